// The tool's few text rules; all text is 8-bit bytes.
#pragma once

#include <string>
#include <string_view>

namespace quorvex {

// a-z to A-Z plus seven code page 437 letters; every other byte unchanged.
std::string UpperCaseText(std::string_view text);

// Removes bytes found in `set` from both ends, stopping at the first byte
// outside it.
std::string TrimChars(std::string_view text, std::string_view set);

// Trims the space character (32) only.
std::string TrimSpaces(std::string_view text);

// Text a remote host controls, made safe for a terminal: bytes below 0x20 and
// 0x7F become "?".
std::string Printable(std::string_view text);

}  // namespace quorvex
