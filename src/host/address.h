// IPv4 address text: the strict form a host text must have, and formatting.
#pragma once

#include <string>
#include <string_view>

#include "core/platform.h"

namespace quorvex {

// True for exactly four "."-separated fields of 1 to 3 decimal digits, each
// at most 255. Leading zeros are decimal.
bool IsValidAddressText(std::string_view text);

// Reads a text that IsValidAddressText accepted (fields read as decimal);
// missing fields stay 0.
Ipv4Address ParseDottedAddress(std::string_view text);

// "a.b.c.d", each byte in decimal without padding.
std::string FormatDottedQuad(const Ipv4Address& address);

}  // namespace quorvex
