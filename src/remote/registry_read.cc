#include "remote/registry_read.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

namespace quorvex {

namespace {

constexpr std::size_t ValueBufferSize = 1024;
constexpr std::uint32_t StringType = 1;  // REG_SZ
constexpr std::int32_t Success = 0;

}  // namespace

RegistryRead ReadRemoteRegistryString(RegistryKey& rootKey, const std::string& keyPath, const std::string& valueName,
                                      std::unique_ptr<RegistryKey>* keepKey) {
  RegistryRead read;
  std::unique_ptr<RegistryKey> subKey;
  read.OpenStatus = rootKey.OpenKey(keyPath, subKey);
  if (read.OpenStatus != Success || !subKey) return read;
  read.KeyOpened = true;

  // The marker is the only failure signal: a read that fails leaves it in
  // place. A string stored without its closing NUL would otherwise take the
  // marker's tail along ("4.0" read as "4.0RROR*"), so a successful read is
  // ended where its value ends.
  std::array<std::uint8_t, ValueBufferSize> buffer{};
  std::memcpy(buffer.data(), RegistryFailureMarker, sizeof RegistryFailureMarker);
  std::uint32_t type = StringType;
  std::uint32_t size = ValueBufferSize;
  read.QueryStatus = subKey->QueryValue(valueName, type, buffer.data(), size);
  if (read.QueryStatus == Success && size < ValueBufferSize) buffer[size] = 0;
  if (keepKey != nullptr) *keepKey = std::move(subKey);
  subKey.reset();

  const auto end = std::find(buffer.begin(), buffer.end(), std::uint8_t{0});
  read.Text.assign(buffer.begin(), end);
  return read;
}

void ReportRegistryFailure(const RegistryRead& read, FindingsSink& findings) {
  if (!read.KeyOpened) {
    findings.FailedCall(OpenKeyCall, read.OpenStatus);
  } else if (read.QueryStatus != Success) {
    findings.FailedCall(QueryValueCall, read.QueryStatus);
  }
}

}  // namespace quorvex
