// On Linux the tool's 8-bit text is code page 437, the page whose letters its
// upper-casing knows. Text is converted at the edges only: arguments and host
// strings on the way in, output and titles on the way out.
#pragma once

#include <string>
#include <string_view>

namespace quorvex::posix {

// A character that code page 437 lacks, or a malformed sequence, becomes "?".
std::string Utf8ToCp437(std::string_view utf8);
std::string Utf16ToCp437(std::u16string_view utf16);

std::string Cp437ToUtf8(std::string_view cp437);
std::u16string Cp437ToUtf16(std::string_view cp437);

}  // namespace quorvex::posix
