// First late check: the admin$ share and its free space.
#pragma once

#include <cstdint>
#include <string>

#include "core/run_settings.h"
#include "core/stage.h"
#include "host/host_identity.h"

namespace quorvex {

bool PathExists(UncFileService& files, const std::string& path);

// Free bytes behind the root path; 0 when the query fails.
std::uint64_t QueryFreeBytes(UncFileService& files, const std::string& rootPath);

// Returns 0 or 16; never ends the run.
std::uint16_t CheckAdminShare(RunEnv& env, const RunSettings& settings, const HostIdentity& identity,
                              const std::string& uncServerName);

}  // namespace quorvex
