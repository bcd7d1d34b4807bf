// Cutting the command text into tokens and matching the switches.
#pragma once

#include <string>
#include <string_view>

#include "app/output.h"
#include "app/run_settings.h"

namespace quorvex {

int CountTokens(std::string_view commandText);
// Token n (from 1), upper-cased; empty when n is out of range.
std::string GetToken(std::string_view commandText, int n);

struct ParsedCommandLine {
  RunSettings Settings;
  int TokenCount = 0;
};

// Clears out.OutputEnabled for /Q and prints the unexpected-token lines.
ParsedCommandLine ParseCommandLine(std::string_view commandText, Output& out);

bool NeedsUsage(const RunSettings& settings, int tokenCount);
void PrintUsage(Output& out);

// Completes settings; returns 0, or prints one "ERROR: " line and returns 99.
// Reads out.OutputEnabled, since /Q and /V together are refused.
int ValidateRunSettings(RunSettings& settings, Output& out);

}  // namespace quorvex
