// The whole run: parse, validate, check the host stage by stage, exit code.
#pragma once

#include <string>

#include "core/findings.h"
#include "core/output.h"
#include "core/platform.h"
#include "core/run_settings.h"

namespace quorvex {

// Takes the command text (the command line without the program name) and
// returns the process exit code, 0 to 255.
int RunChecks(const std::string& commandText, Platform& system);
// The same run, telling `findings` every line and fact as it goes.
int RunChecks(const std::string& commandText, Platform& system, FindingsSink& findings);

// For a caller that parsed and validated the switches once for many hosts:
// checks settings.Host (already trimmed and upper-cased as /M's value is),
// from the identification on. The caller's output goes to `out`.
int CheckHost(const RunSettings& settings, Platform& system, Output& out);

}  // namespace quorvex
