// What the SMB connection that carried a run's checks negotiated: told to a
// caller that records it, never printed.
#pragma once

#include <string>

#include "core/stage.h"

namespace quorvex {

// Asks the platform about its connection to the server and tells whatever it
// knows, when the findings want it (WantsSmbFacts); nothing otherwise.
void ReportSmbConnection(RunEnv& env, const std::string& uncServerName);

}  // namespace quorvex
