// When the usage text is shown instead of a run, and the text itself.
#pragma once

#include "core/output.h"
#include "core/run_settings.h"

namespace quorvex {

bool NeedsUsage(const RunSettings& settings, int tokenCount);
void PrintUsage(Output& out);

}  // namespace quorvex
