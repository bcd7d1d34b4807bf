#include "core/text.h"

namespace quorvex {

namespace {

struct ExtraLetter {
  unsigned char Lower;
  unsigned char Upper;
};

// The code page 437 letters that have an upper-case form in the same page.
constexpr ExtraLetter ExtraLetters[] = {
    {0x84, 0x8E}, {0x94, 0x99}, {0x81, 0x9A}, {0x82, 0x90}, {0xA4, 0xA5}, {0x86, 0x8F}, {0x87, 0x80},
};

char UpperCaseByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte >= 'a' && byte <= 'z') return static_cast<char>(byte - 'a' + 'A');
  for (const ExtraLetter& letter : ExtraLetters) {
    if (byte == letter.Lower) return static_cast<char>(letter.Upper);
  }
  return c;
}

}  // namespace

std::string UpperCaseText(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = UpperCaseByte(c);
  return upper;
}

std::string TrimChars(std::string_view text, std::string_view set) {
  const auto first = text.find_first_not_of(set);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(set);
  return std::string(text.substr(first, last - first + 1));
}

std::string TrimSpaces(std::string_view text) { return TrimChars(text, " "); }

std::string Printable(std::string_view text) {
  std::string safe(text);
  for (char& c : safe) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return safe;
}

std::string JoinCommandText(const std::vector<std::string>& arguments) {
  std::string text;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (i > 0) text += ' ';
    const bool hasQuote = argument.find('"') != std::string::npos;
    if (argument.empty() || (!hasQuote && argument.find_first_of(" \t") != std::string::npos)) {
      text += '"' + argument + '"';
    } else {
      text += argument;
    }
  }
  return text;
}

}  // namespace quorvex
