#include "core/encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace quorvex {
namespace {

struct Utf8Case {
  const char* Name;
  std::string Utf8;
  std::string Cp437;
  bool Valid = true;  // well-formed UTF-8, even where code page 437 lacks a character
};

TEST(Encoding, Utf8ToCp437AndValidity) {
  // clang-format off
  const Utf8Case cases[] = {
      {"ascii and controls pass", "PC1\r\n\a\t", "PC1\r\n\a\t"},
      {"letters of the upper-casing rule", "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA9\xC3\xA2\xC3\xA5\xC3\xA7",
       "\x84\x94\x81\x82\x83\x86\x87"},
      {"first and last high byte", "\xC3\x87\xC2\xA0", "\x80\xFF"},
      {"box drawing, three bytes", "\xE2\x95\x94\xE2\x95\x90\xE2\x95\x97", "\xC9\xCD\xBB"},
      {"peseta and florin", "\xE2\x82\xA7\xC6\x92", "\x9E\x9F"},
      {"unmapped euro", "A\xE2\x82\xAC" "B", "A?B"},
      {"unmapped four-byte emoji", "\xF0\x9F\x98\x80", "?"},
      {"lone continuation byte", "A\x80" "B", "A?B", false},
      {"overlong slash", "\xC0\xAF", "??", false},
      {"overlong three-byte", "\xE0\x80\xAF", "???", false},
      {"encoded surrogate", "\xED\xA0\x80", "???", false},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", "????", false},
      {"invalid lead bytes", "\xF8\xFF", "??", false},
      {"truncated at end", "AB\xE2\x95", "AB?", false},
      {"truncated before ascii", "\xE2\x95Z", "?Z", false},
      {"empty", "", ""},
  };
  // clang-format on
  for (const Utf8Case& c : cases) {
    EXPECT_EQ(Utf8ToCp437(c.Utf8), c.Cp437) << c.Name;
    // The same decoder judges the UTF-8 the records hold.
    EXPECT_EQ(IsValidUtf8(c.Utf8), c.Valid) << c.Name;
    if (c.Valid) {
      EXPECT_EQ(ValidUtf8(c.Utf8), c.Utf8) << c.Name;
    }
  }
}

TEST(Utf8, BrokenSequencesBecomeOneReplacementEach) {
  const std::string fffd = "\xEF\xBF\xBD";
  const std::pair<std::string, std::string> cases[] = {
      {"A\x80"
       "B",
       "A" + fffd + "B"},
      {"\xC0\xAF", fffd + fffd},
      {"\xE2\x95Z", fffd + "Z"},
      {"AB\xF0\x9F\x98", "AB" + fffd},
      {"\xED\xA0\x80", fffd + fffd + fffd},
      {"ok \xC3\xA4", "ok \xC3\xA4"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(ValidUtf8(in), out) << in;
}

TEST(Utf16, BytesToUtf8BothOrders) {
  const std::string fffd = "\xEF\xBF\xBD";
  struct Case {
    const char* Name;
    std::string Le;  // little-endian bytes; the big-endian row swaps each pair
    std::string Utf8;
  };
  const Case cases[] = {
      {"ascii", std::string("P\0C\0", 4), "PC"},
      {"latin letter", std::string("\xE4\0", 2), "\xC3\xA4"},
      {"pair is one four-byte character", std::string("\x3D\xD8\x00\xDE", 4), "\xF0\x9F\x98\x80"},
      {"lone high surrogate", std::string("\x3D\xD8Z\0", 4), fffd + "Z"},
      {"lone low surrogate at the end", std::string("A\0\x00\xDE", 4), "A" + fffd},
      {"odd last byte", std::string("A\0B", 3), "A" + fffd},
      {"empty", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf16ToUtf8(c.Le, false), c.Utf8) << c.Name;
    std::string be = c.Le;
    for (std::size_t i = 0; i + 1 < be.size(); i += 2) std::swap(be[i], be[i + 1]);
    EXPECT_EQ(Utf16ToUtf8(be, true), c.Utf8) << c.Name;
  }
}

TEST(Cp437, ToUtf8AndUtf16RoundTripEveryByte) {
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp437(Cp437ToUtf8(one)), one) << "byte " << b;
    EXPECT_EQ(Utf16ToCp437(Cp437ToUtf16(one)), one) << "byte " << b;
  }
  EXPECT_EQ(Cp437ToUtf8("\x9A\xE1\xFE"), "\xC3\x9C\xC3\x9F\xE2\x96\xA0");
  EXPECT_EQ(Cp437ToUtf16("\x9A\xE1\xFE"), u"\u00DC\u00DF\u25A0");
}

struct Utf16Case {
  const char* Name;
  std::u16string Utf16;
  std::string Cp437;
};

TEST(Cp437, FromUtf16) {
  const Utf16Case cases[] = {
      {"ascii", u"WORKGROUP", "WORKGROUP"},
      {"mapped letters", u"M\u00DCLLER", "M\x9ALLER"},
      {"greek and math", u"\u03B1\u221E\u2248", "\xE0\xEC\xF7"},
      {"unmapped bmp", u"\u20AC1", "?1"},
      {"surrogate pair is one character", u"A\xD83D\xDE00Z", "A?Z"},
      {"lone high surrogate", std::u16string(u"A") + char16_t(0xD800) + u"Z", "A?Z"},
      {"lone low surrogate", std::u16string(u"A") + char16_t(0xDC00) + u"Z", "A?Z"},
      {"high surrogate at the end", std::u16string(u"A") + char16_t(0xDBFF), "A?"},
      {"reversed pair", std::u16string{char16_t(0xDC00), char16_t(0xD800)}, "??"},
  };
  for (const Utf16Case& c : cases) EXPECT_EQ(Utf16ToCp437(c.Utf16), c.Cp437) << c.Name;
}

}  // namespace
}  // namespace quorvex
