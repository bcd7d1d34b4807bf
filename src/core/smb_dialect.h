// The SMB2 and SMB3 dialects by their revision codes and usual names: one
// table for the stage that tells what a connection negotiated and for the
// sweep that checks what a worker says of it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvex {

struct SmbDialectRow {
  std::uint16_t Code;  // as SMB2 NEGOTIATE carries it
  std::string_view Text;
};

inline constexpr SmbDialectRow SmbDialects[] = {
    {0x0202, "2.0.2"}, {0x0210, "2.1"}, {0x0300, "3.0"}, {0x0302, "3.0.2"}, {0x0311, "3.1.1"},
};

// "3.1.1" for 0x0311; nullopt for a code that names no SMB2 or SMB3 dialect.
inline std::optional<std::string_view> SmbDialectText(std::uint16_t code) {
  for (const SmbDialectRow& row : SmbDialects) {
    if (row.Code == code) return row.Text;
  }
  return std::nullopt;
}

inline bool IsSmbDialectText(std::string_view text) {
  for (const SmbDialectRow& row : SmbDialects) {
    if (row.Text == text) return true;
  }
  return false;
}

}  // namespace quorvex
