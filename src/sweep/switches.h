// The single tool's switches given after "--", parsed and validated once
// for every host of the sweep, with the single tool's own error lines and
// exit codes.
#pragma once

#include <string>
#include <vector>

#include "core/run_settings.h"

namespace quorvex::sweep {

// 0 with the settings every host shares (Host empty, Verbose off), or the
// exit code after the lines saying why went to standard error: 9 for /M, /Q
// or /V, an unexpected token or too many switches; the single tool's
// validation code (99) for a bad value.
int ParseSweepSwitches(const std::vector<std::string>& arguments, RunSettings& settings);

}  // namespace quorvex::sweep
