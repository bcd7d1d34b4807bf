// Second late check: connect to the remote registry and read the product type.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/run_settings.h"
#include "core/stage.h"
#include "host/host_identity.h"

namespace quorvex {

struct RoleVerdict {
  std::uint16_t Added = 0;  // 0, 32 or 128
  // Open when the version check is to run; it takes the key and closes it.
  std::unique_ptr<RegistryKey> RootKey;
};

RoleVerdict CheckComputerRole(RunEnv& env, const RunSettings& settings, const HostIdentity& identity,
                              const std::string& uncServerName);

}  // namespace quorvex
