// Every text encoding the tool meets, in one place: UTF-8 (records, host
// lists, the Linux terminal and command line), UTF-16 (host lists as
// PowerShell writes them, SMB and DCE/RPC strings) and code page 437 (the
// core's 8-bit text on Linux, the page whose letters its upper-casing knows).
//
// Malformed input never stops a conversion: each broken sequence (its longest
// well-formed beginning, at least one unit) becomes one replacement, U+FFFD
// in UTF-8 and "?" in code page 437, as the Unicode standard recommends.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex {

// Decodes the character at text[pos] and advances pos past it; nullopt for a
// malformed sequence (stray continuation, overlong form, surrogate, beyond
// U+10FFFF, cut short), after advancing past its broken beginning.
std::optional<char32_t> DecodeUtf8(std::string_view text, std::size_t& pos);
// The UTF-8 bytes of one code point, appended to out.
void AppendUtf8(std::string& out, char32_t codePoint);

bool IsValidUtf8(std::string_view text);
// Valid text as it is; otherwise each malformed sequence becomes U+FFFD.
std::string ValidUtf8(std::string_view text);

// UTF-16 bytes without a byte order mark to UTF-8: a pair of surrogates is one
// character; a lone surrogate or an odd last byte becomes U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian);

// A character that code page 437 lacks, or a malformed sequence, becomes "?".
std::string Utf8ToCp437(std::string_view utf8);
std::string Utf16ToCp437(std::u16string_view utf16);
std::string Cp437ToUtf8(std::string_view cp437);
std::u16string Cp437ToUtf16(std::string_view cp437);

}  // namespace quorvex
