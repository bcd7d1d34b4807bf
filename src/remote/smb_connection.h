// What the SMB connection that carried a run's checks negotiated: told to a
// caller that records it, never printed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/stage.h"

namespace quorvex {

// The dialect's usual name for its revision code ("3.1.1" for 0x0311);
// nullopt for a code that names no SMB2 or SMB3 dialect.
std::optional<std::string> SmbDialectText(std::uint16_t dialect);

// Asks the platform about its connection to the server and tells whatever it
// knows, when the findings want it (WantsSmbFacts); nothing otherwise.
void ReportSmbConnection(RunEnv& env, const std::string& uncServerName);

}  // namespace quorvex
