#include "records/host_key.h"

#include "core/encoding.h"
#include "core/text.h"

namespace quorvex::records {
namespace {

std::string_view TrimBlanks(std::string_view text) {
  constexpr std::string_view Blanks = " \t";
  const auto first = text.find_first_not_of(Blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}

}  // namespace

// UpperCaseText's letters, in UTF-8: a-z, and the seven code page 437 lower
// case letters that have an upper case in the page (ä ö ü é ñ å ç: all
// U+00xx, so C3 followed by the second byte below).
std::string UpperCaseHostText(std::string_view utf8) {
  std::string upper(utf8);
  constexpr unsigned char Lower[] = {0xA4, 0xB6, 0xBC, 0xA9, 0xB1, 0xA5, 0xA7};
  for (std::size_t i = 0; i < upper.size(); ++i) {
    const auto byte = static_cast<unsigned char>(upper[i]);
    if (byte >= 'a' && byte <= 'z') {
      upper[i] = static_cast<char>(byte - 'a' + 'A');
    } else if (byte == 0xC3 && i + 1 < upper.size()) {
      const auto second = static_cast<unsigned char>(upper[++i]);
      for (unsigned char lower : Lower) {
        if (second == lower) upper[i] = static_cast<char>(second - 0x20);
      }
    }
  }
  return upper;
}

std::string HostKey(std::string_view host) {
  return UpperCaseHostText(TrimChars(ValidUtf8(TrimBlanks(host)), HostTrimChars));
}

}  // namespace quorvex::records
