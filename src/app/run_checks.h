// The whole run: parse, validate, check the host stage by stage, exit code.
#pragma once

#include <string>

#include "platform/platform.h"

namespace quorvex {

// Takes the command text (the command line without the program name) and
// returns the process exit code, 0 to 255.
int RunChecks(const std::string& commandText, Platform& system);

}  // namespace quorvex
