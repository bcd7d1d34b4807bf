// The system resolver (nsswitch: hosts file, DNS, ...) with a bound on each
// question. getaddrinfo and getnameinfo take no timeout, and a resolver whose
// name servers never answer holds them for minutes: each question runs on a
// helper thread that the caller abandons at the bound (the thread ends on its
// own when the resolver gives up, or with the process).
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "core/platform.h"

namespace quorvex::posix {

inline constexpr std::chrono::seconds LookupBound{5};

// First IPv4 address of a UTF-8 name, or nullopt when the resolver has none
// or did not answer within LookupBound (or the run's deadline). The answer,
// either way, is kept for the rest of the run: the SMB client asks again for
// names the lookup stage already asked.
std::optional<Ipv4Address> BoundedAddressOf(const std::string& utf8Name);

// The name the resolver gives for the address (UTF-8), bounded the same way.
std::optional<std::string> BoundedNameOf(const Ipv4Address& address);

}  // namespace quorvex::posix
