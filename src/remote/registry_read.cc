#include "remote/registry_read.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

namespace quorvex {

namespace {

constexpr std::size_t ValueBufferSize = 1024;
constexpr std::uint32_t StringType = 1;  // REG_SZ
constexpr std::uint32_t ExpandStringType = 2;  // REG_EXPAND_SZ
constexpr std::uint32_t DwordType = 4;  // REG_DWORD, little endian
constexpr std::int32_t Success = 0;

struct OsValue {
  const char* Name;
  Fact Told;
  bool Number;
};

// In the order they are asked. ReleaseId stands in for DisplayVersion on
// hosts older than 20H2, and is only asked when DisplayVersion was not told.
constexpr OsValue OsValues[] = {
    {"CurrentMajorVersionNumber", Fact::OsMajorVersion, true},
    {"CurrentMinorVersionNumber", Fact::OsMinorVersion, true},
    {"CurrentBuildNumber", Fact::OsBuildNumber, false},
    {"UBR", Fact::OsUbr, true},
    {"DisplayVersion", Fact::OsDisplayVersion, false},
    {"ReleaseId", Fact::OsDisplayVersion, false},
    {"ProductName", Fact::OsProductName, false},
    {"EditionID", Fact::OsEditionId, false},
    {"InstallationType", Fact::OsInstallationType, false},
};

}  // namespace

RegistryRead ReadRemoteRegistryString(RegistryKey& rootKey, const std::string& keyPath,
                                      const std::string& valueName) {
  RegistryRead read;
  std::unique_ptr<RegistryKey> subKey;
  if (rootKey.OpenKey(keyPath, subKey) != Success || !subKey) return read;
  read.KeyOpened = true;

  // The marker is the only failure signal: a read that fails leaves it in
  // place. A string stored without its closing NUL would otherwise take the
  // marker's tail along ("4.0" read as "4.0RROR*"), so a successful read is
  // ended where its value ends.
  std::array<std::uint8_t, ValueBufferSize> buffer{};
  std::memcpy(buffer.data(), RegistryFailureMarker, sizeof RegistryFailureMarker);
  std::uint32_t type = StringType;
  std::uint32_t size = ValueBufferSize;
  if (subKey->QueryValue(valueName, type, buffer.data(), size) == Success && size < ValueBufferSize) {
    buffer[size] = 0;
  }
  subKey.reset();

  const auto end = std::find(buffer.begin(), buffer.end(), std::uint8_t{0});
  read.Text.assign(buffer.begin(), end);
  return read;
}

void ReadOsDetails(RegistryKey& rootKey, const std::string& keyPath, FindingsSink& findings) {
  std::unique_ptr<RegistryKey> key;
  if (rootKey.OpenKey(keyPath, key) != Success || !key) return;
  bool displayVersionTold = false;
  for (const OsValue& value : OsValues) {
    if (value.Told == Fact::OsDisplayVersion && displayVersionTold) continue;
    std::array<std::uint8_t, ValueBufferSize> buffer{};
    std::uint32_t type = 0;
    std::uint32_t size = ValueBufferSize;
    if (key->QueryValue(value.Name, type, buffer.data(), size) != Success || size > ValueBufferSize) continue;
    if (value.Number) {
      if (type != DwordType || size != 4) continue;
      findings.Number(value.Told, std::uint64_t{buffer[0]} | std::uint64_t{buffer[1]} << 8 |
                                      std::uint64_t{buffer[2]} << 16 | std::uint64_t{buffer[3]} << 24);
    } else {
      if (type != StringType && type != ExpandStringType) continue;
      const auto end = std::find(buffer.begin(), buffer.begin() + size, std::uint8_t{0});
      findings.Text(value.Told, std::string(buffer.begin(), end));
      if (value.Told == Fact::OsDisplayVersion) displayVersionTold = true;
    }
  }
}

}  // namespace quorvex
