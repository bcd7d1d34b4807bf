// Reading the little-endian integers and UTF-16 text of SMB and NDR replies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvex::samba {

// The unsigned integer of `width` bytes (at most 8) at data.
inline std::uint64_t ReadLittleEndian(const std::uint8_t* data, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i > 0; --i) value = (value << 8) | data[i - 1];
  return value;
}

// `units` UTF-16 code units at data, NULs included, unpaired surrogates kept.
inline std::u16string Utf16FromLittleEndian(const std::uint8_t* data, std::size_t units) {
  std::u16string text(units, u'\0');
  for (std::size_t i = 0; i < units; ++i) text[i] = static_cast<char16_t>(ReadLittleEndian(data + 2 * i, 2));
  return text;
}

}  // namespace quorvex::samba
