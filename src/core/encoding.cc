#include "core/encoding.h"

#include <array>

namespace quorvex {
namespace {

constexpr std::string_view Replacement = "\xEF\xBF\xBD";
constexpr char Unmapped = '?';

// Unicode code points of the code page 437 bytes 0x80..0xFF; the low half is
// ASCII.
// clang-format off
constexpr std::array<char16_t, 128> Cp437HighHalf = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};
// clang-format on

char16_t Cp437CodePoint(unsigned char byte) { return byte < 0x80 ? char16_t{byte} : Cp437HighHalf[byte - 0x80]; }

char Cp437Byte(char32_t codePoint) {
  if (codePoint < 0x80) return static_cast<char>(codePoint);
  for (std::size_t i = 0; i < Cp437HighHalf.size(); ++i) {
    if (Cp437HighHalf[i] == codePoint) return static_cast<char>(0x80 + i);
  }
  return Unmapped;
}

// Calls emit(code point) for each character of `units` UTF-16 code units
// read by unitAt(i), emit(nullopt) for each lone surrogate.
template <typename UnitAt, typename Emit>
void DecodeUtf16(std::size_t units, UnitAt unitAt, Emit emit) {
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t unit = unitAt(i);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units && unitAt(i + 1) >= 0xDC00 && unitAt(i + 1) <= 0xDFFF) {
      emit(std::optional<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00)));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      emit(std::optional<char32_t>());
    } else {
      emit(std::optional<char32_t>(unit));
    }
  }
}

}  // namespace

std::optional<char32_t> DecodeUtf8(std::string_view text, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos++);
  if (lead < 0x80) return lead;

  std::size_t length = 0;
  char32_t cp = 0;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // UTF-16 surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return std::nullopt;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (pos >= text.size()) return std::nullopt;
    const unsigned char next = byte(pos);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return std::nullopt;
    cp = (cp << 6) | (next & 0x3F);
    ++pos;
  }
  return cp;
}

void AppendUtf8(std::string& out, char32_t codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    if (!DecodeUtf8(text, pos)) return false;
  }
  return true;
}

std::string ValidUtf8(std::string_view text) {
  if (IsValidUtf8(text)) return std::string(text);
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t start = pos;
    if (DecodeUtf8(text, pos)) {
      out.append(text.substr(start, pos - start));
    } else {
      out += Replacement;
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  const auto unitAt = [&](std::size_t i) -> char32_t {
    const auto a = static_cast<unsigned char>(bytes[2 * i]);
    const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  };
  DecodeUtf16(bytes.size() / 2, unitAt, [&](std::optional<char32_t> cp) {
    if (cp) {
      AppendUtf8(out, *cp);
    } else {
      out += Replacement;
    }
  });
  if (bytes.size() % 2 != 0) out += Replacement;
  return out;
}

std::string Utf8ToCp437(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    const std::optional<char32_t> cp = DecodeUtf8(utf8, pos);
    out += cp ? Cp437Byte(*cp) : Unmapped;
  }
  return out;
}

std::string Utf16ToCp437(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  DecodeUtf16(
      utf16.size(), [&](std::size_t i) -> char32_t { return utf16[i]; },
      [&](std::optional<char32_t> cp) { out += cp ? Cp437Byte(*cp) : Unmapped; });
  return out;
}

std::string Cp437ToUtf8(std::string_view cp437) {
  std::string out;
  out.reserve(cp437.size());
  for (const char c : cp437) AppendUtf8(out, Cp437CodePoint(static_cast<unsigned char>(c)));
  return out;
}

std::u16string Cp437ToUtf16(std::string_view cp437) {
  std::u16string out;
  out.reserve(cp437.size());
  for (const char c : cp437) out += Cp437CodePoint(static_cast<unsigned char>(c));
  return out;
}

}  // namespace quorvex
