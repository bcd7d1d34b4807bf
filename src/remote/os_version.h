// Last check: the OS version over the registry connection the role check left open.
#pragma once

#include <cstdint>
#include <memory>

#include "core/run_settings.h"
#include "core/stage.h"
#include "host/host_identity.h"

namespace quorvex {

// Returns 0, 64 or 128. rootKey (null when the role check left none) stays
// the caller's.
std::uint16_t CheckOsVersion(RunEnv& env, const RunSettings& settings, const HostIdentity& identity,
                             RegistryKey* rootKey);

// Byte-string order: true when version sorts at or above "5.0".
bool IsW2kOrGreater(const std::string& version);

}  // namespace quorvex
