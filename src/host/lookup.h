// Name and address lookups with the failure values the checks expect.
#pragma once

#include <string>

#include "core/platform.h"

namespace quorvex {

// First IPv4 address of the name; the zero address on failure.
Ipv4Address ResolveNameToAddress(LookupService& lookup, const std::string& name);

// The host's name; for the zero address this computer's own name; empty on
// failure.
std::string ResolveAddressToName(LookupService& lookup, const Ipv4Address& address);

// FormatDottedQuad of ResolveNameToAddress: "0.0.0.0" on failure.
std::string ResolveNameToDottedQuad(LookupService& lookup, const std::string& name);

}  // namespace quorvex
