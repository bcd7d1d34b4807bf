// The tool's few text rules; all text is 8-bit bytes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

// a-z to A-Z plus seven code page 437 letters; every other byte unchanged.
std::string UpperCaseText(std::string_view text);

// Removes bytes found in `set` from both ends, stopping at the first byte
// outside it.
std::string TrimChars(std::string_view text, std::string_view set);

// Trims the space character (32) only.
std::string TrimSpaces(std::string_view text);

// Arguments joined by single spaces into a command text that splits back
// into them: an empty argument, or one holding a space or a tab, goes in
// double quotes; one that already holds a double quote was quoted by its
// writer and passes as typed.
std::string JoinCommandText(const std::vector<std::string>& arguments);

// Text a remote host controls, made safe for a terminal: bytes below 0x20 and
// 0x7F become "?".
std::string Printable(std::string_view text);

}  // namespace quorvex
