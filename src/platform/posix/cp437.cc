#include "platform/posix/cp437.h"

#include <array>
#include <cstdint>

#include "core/text.h"

namespace quorvex::posix {
namespace {

// Unicode code points of the bytes 0x80..0xFF; the low half is ASCII.
// clang-format off
constexpr std::array<char16_t, 128> HighHalf = {
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

constexpr char Unmapped = '?';

char16_t CodePointOf(unsigned char byte) { return byte < 0x80 ? char16_t{byte} : HighHalf[byte - 0x80]; }

char ByteOf(char32_t codePoint) {
  if (codePoint < 0x80) return static_cast<char>(codePoint);
  for (std::size_t i = 0; i < HighHalf.size(); ++i) {
    if (HighHalf[i] == codePoint) return static_cast<char>(0x80 + i);
  }
  return Unmapped;
}

// Decodes one character at text[pos], advancing pos. A malformed sequence
// gives Malformed after consuming its longest valid beginning (at least one
// byte), so each broken sequence turns into exactly one "?".
constexpr char32_t Malformed = 0xFFFFFFFF;

char32_t DecodeUtf8(std::string_view text, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos++);
  if (lead < 0x80) return lead;

  std::size_t length = 0;
  char32_t cp = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
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
    return Malformed;
  }

  for (std::size_t i = 1; i < length; ++i) {
    if (pos >= text.size()) return Malformed;
    const unsigned char next = byte(pos);
    const unsigned char lo = i == 1 ? low : 0x80;
    const unsigned char hi = i == 1 ? high : 0xBF;
    if (next < lo || next > hi) return Malformed;
    cp = (cp << 6) | (next & 0x3F);
    ++pos;
  }
  return cp;
}

}  // namespace

std::string Utf8ToCp437(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t cp = DecodeUtf8(utf8, pos);
    out += cp == Malformed ? Unmapped : ByteOf(cp);
  }
  return out;
}

std::string Utf16ToCp437(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t unit = utf16[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
      // A whole pair is one character outside the Basic Multilingual Plane,
      // which code page 437 never holds.
      ++i;
      out += Unmapped;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      out += Unmapped;  // a lone surrogate
    } else {
      out += ByteOf(unit);
    }
  }
  return out;
}

std::string Cp437ToUtf8(std::string_view cp437) {
  std::string out;
  out.reserve(cp437.size());
  for (const char c : cp437) AppendUtf8(out, CodePointOf(static_cast<unsigned char>(c)));
  return out;
}

std::u16string Cp437ToUtf16(std::string_view cp437) {
  std::u16string out;
  out.reserve(cp437.size());
  for (const char c : cp437) out += CodePointOf(static_cast<unsigned char>(c));
  return out;
}

}  // namespace quorvex::posix
