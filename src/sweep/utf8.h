// UTF-8 as the sweep's files hold it. Text from a host or a host list may be
// malformed; what the sweep writes never is.
#pragma once

#include <string>
#include <string_view>

namespace quorvex::sweep {

// Every malformed sequence (stray continuation, overlong form, surrogate,
// beyond U+10FFFF, cut short) becomes U+FFFD; valid text is returned as is.
std::string ValidUtf8(std::string_view text);
bool IsValidUtf8(std::string_view text);

// UTF-16 bytes (no byte order mark) to UTF-8; an unpaired surrogate or an odd
// last byte becomes U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian);

}  // namespace quorvex::sweep
