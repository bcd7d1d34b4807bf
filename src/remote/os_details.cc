#include "remote/os_details.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace quorvex {

namespace {

constexpr std::uint32_t StringType = 1;        // REG_SZ
constexpr std::uint32_t ExpandStringType = 2;  // REG_EXPAND_SZ
constexpr std::uint32_t DwordType = 4;         // REG_DWORD, little endian
constexpr std::int32_t Success = 0;
// The longest of these values on any Windows is well under 100 characters;
// anything longer is not what the value is meant to hold.
constexpr std::uint32_t LongestText = 128;

enum class Kind { Text, Number };

struct DetailRow {
  const char* ValueName;
  Fact Which;
  Kind Type;
};

constexpr DetailRow DetailRows[] = {
    {"CurrentMajorVersionNumber", Fact::CurrentMajorVersionNumber, Kind::Number},
    {"CurrentMinorVersionNumber", Fact::CurrentMinorVersionNumber, Kind::Number},
    {"CurrentBuildNumber", Fact::CurrentBuildNumber, Kind::Text},
    {"UBR", Fact::UBR, Kind::Number},
    {"DisplayVersion", Fact::DisplayVersion, Kind::Text},
    {"ReleaseId", Fact::ReleaseId, Kind::Text},
    {"ProductName", Fact::ProductName, Kind::Text},
    {"EditionID", Fact::EditionID, Kind::Text},
    {"InstallationType", Fact::InstallationType, Kind::Text},
};

// A registry string ends at its first NUL (or its size); it is trusted only
// when what remains is printable.
bool TakeText(const std::uint8_t* bytes, std::uint32_t size, std::string& text) {
  const void* nul = std::memchr(bytes, 0, size);
  const std::uint32_t length =
      nul != nullptr ? static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(nul) - bytes) : size;
  if (length == 0 || length > LongestText) return false;
  for (std::uint32_t i = 0; i < length; ++i) {
    if (bytes[i] < 0x20 || bytes[i] == 0x7F) return false;
  }
  text.assign(reinterpret_cast<const char*>(bytes), length);
  return true;
}

void ReadDetail(RegistryKey& key, const DetailRow& row, FindingsSink& findings) {
  std::array<std::uint8_t, LongestText + 2> buffer{};
  std::uint32_t type = 0;
  std::uint32_t size = static_cast<std::uint32_t>(buffer.size());
  if (key.QueryValue(row.ValueName, type, buffer.data(), size) != Success || size > buffer.size()) return;
  if (row.Type == Kind::Number) {
    if (type != DwordType || size != 4) return;
    findings.Number(row.Which, std::uint32_t{buffer[0]} | std::uint32_t{buffer[1]} << 8 |
                                   std::uint32_t{buffer[2]} << 16 | std::uint32_t{buffer[3]} << 24);
    return;
  }
  std::string text;
  if ((type == StringType || type == ExpandStringType) && TakeText(buffer.data(), size, text)) {
    findings.Text(row.Which, text);
  }
}

}  // namespace

void ReadOsDetails(RegistryKey& versionKey, FindingsSink& findings) {
  for (const DetailRow& row : DetailRows) ReadDetail(versionKey, row, findings);
}

}  // namespace quorvex
