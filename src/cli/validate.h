// The values of the switches, checked once before any host is touched.
#pragma once

#include "core/output.h"
#include "core/run_settings.h"

namespace quorvex {

// Completes settings; returns 0, or prints one "ERROR: " line and returns
// ExitCode::InvalidValue. Reads out.OutputEnabled, since /Q and /V together
// are refused.
int ValidateRunSettings(RunSettings& settings, Output& out);

}  // namespace quorvex
