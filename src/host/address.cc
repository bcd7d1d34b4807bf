#include "host/address.h"

#include <cstddef>
#include <cstdint>

namespace quorvex {

namespace {

constexpr char FieldSeparator = '.';
constexpr std::size_t FieldCount = 4;
constexpr std::size_t MaxFieldDigits = 3;
constexpr unsigned MaxFieldValue = 255;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads one field the way the host text was always read: an optional sign,
// then digits up to the first other byte; "&" starts an octal field. Only
// the low eight bits are kept, so the reading is total over any text.
std::uint8_t ReadField(std::string_view field) {
  std::size_t at = 0;
  unsigned base = 10;
  bool negative = false;
  if (at < field.size() && field[at] == '&') {
    base = 8;
    ++at;
  } else if (at < field.size() && (field[at] == '+' || field[at] == '-')) {
    negative = field[at] == '-';
    ++at;
  }
  std::uint32_t value = 0;  // wraps modulo 2^32, which keeps the low byte right
  for (; at < field.size(); ++at) {
    const char c = field[at];
    if (!IsDigit(c) || static_cast<unsigned>(c - '0') >= base) break;
    value = value * base + static_cast<std::uint32_t>(c - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<std::uint8_t>(value & 0xFFu);
}

}  // namespace

bool IsValidAddressText(std::string_view text) {
  std::size_t fields = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(FieldSeparator, start);
    const std::string_view field =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (++fields > FieldCount) return false;
    if (field.empty() || field.size() > MaxFieldDigits) return false;
    unsigned value = 0;
    for (char c : field) {
      if (!IsDigit(c)) return false;
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > MaxFieldValue) return false;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return fields == FieldCount;
}

Ipv4Address ParseDottedAddress(std::string_view text) {
  Ipv4Address address{};
  std::size_t start = 0;
  for (std::size_t index = 0; index < FieldCount; ++index) {
    const std::size_t end = text.find(FieldSeparator, start);
    address[index] =
        ReadField(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return address;
}

std::string FormatDottedQuad(const Ipv4Address& address) {
  std::string text;
  for (std::size_t index = 0; index < address.size(); ++index) {
    if (index > 0) text += FieldSeparator;
    text += std::to_string(address[index]);
  }
  return text;
}

}  // namespace quorvex
