// What a move to another domain trips over beyond the checks: the host's
// clock, a pending restart, a Remote Registry it cannot be read without,
// services, administrators and profiles tied to a domain. Asked after the
// checks, of a host that answered them, for a caller that wants it
// (FindingsSink::WantsMoveFacts): the single tool never does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/stage.h"

namespace quorvex {

// Tells each fact to env.Findings; prints nothing and changes no code. A
// query that fails is told as a failed call, and its fact stays unknown.
// hostName is the NetBIOS name the host reported: its own accounts are not
// domain accounts. registryRoot is the checks' registry connection, null
// when they have none: the facts then connect themselves. It is closed as
// soon as the registry is read, so that its close is not the run's last wait.
void ReportMoveFacts(RunEnv& env, const std::string& uncServerName, const std::string& hostName,
                     std::unique_ptr<RegistryKey> registryRoot);

// Whether a service's logon account belongs to a domain: not LocalSystem, a
// built-in authority (NT AUTHORITY\, NT SERVICE\, ...), ".\name", the host's
// own "HOST\name", or empty (a driver).
bool IsDomainAccount(std::string_view account, std::string_view hostName);

// The names the records use for what the service control manager and LSA
// report: "automatic", "running", "group", ...
std::string_view StartTypeName(std::uint32_t startType);
std::string_view ServiceStateName(std::uint32_t state);
std::string_view AccountKindName(std::uint32_t sidNameUse);

// Milliseconds as seconds with one decimal: "-600.0", "0.3".
std::string TenthsOfSeconds(std::int64_t milliseconds);

}  // namespace quorvex
