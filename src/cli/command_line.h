// Cutting the command text into tokens and matching the switches.
#pragma once

#include <string>
#include <string_view>

#include "core/output.h"
#include "core/run_settings.h"

namespace quorvex {

// A run takes 2 to 13 tokens: the four values with their switches and six
// flags would make 14.
inline constexpr int FewestTokens = 2;
inline constexpr int MostTokens = 13;

int CountTokens(std::string_view commandText);
// Token n (from 1), upper-cased; empty when n is out of range.
std::string GetToken(std::string_view commandText, int n);

struct ParsedCommandLine {
  RunSettings Settings;
  int TokenCount = 0;
};

// Clears out.OutputEnabled for /Q and prints the unexpected-token lines.
ParsedCommandLine ParseCommandLine(std::string_view commandText, Output& out);

// The switches of runs whose host and verbosity a caller supplies, as the
// fleet sweep does for each host: everything ParseCommandLine matches, but
// /M, /Q and /V are not applied; the first of them given is returned in
// `refused` as typed (upper-cased). TokenCount counts the switch text only.
ParsedCommandLine ParseSharedSwitches(std::string_view switchText, Output& out, std::string& refused);

}  // namespace quorvex
