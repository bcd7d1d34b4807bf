// Reading one string value through the remote registry.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/findings.h"
#include "core/platform.h"

namespace quorvex {

inline constexpr char RegistryFailureMarker[] = "*ERROR*";
inline constexpr char VersionKeyPath[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
inline constexpr char OpenKeyCall[] = "RegOpenKeyExA";
inline constexpr char QueryValueCall[] = "RegQueryValueExA";

struct RegistryRead {
  bool KeyOpened = false;
  std::string Text;              // the value text, or the failure marker when the read failed
  std::int32_t OpenStatus = 0;   // of the key's open
  std::int32_t QueryStatus = 0;  // of the value's query, once the key opened
};

// Tells the findings which call of a read failed, and with what.
void ReportRegistryFailure(const RegistryRead& read, FindingsSink& findings);

// With keepKey, the key opened for the value is handed over there instead of
// closed, for further reads.
RegistryRead ReadRemoteRegistryString(RegistryKey& rootKey, const std::string& keyPath, const std::string& valueName,
                                      std::unique_ptr<RegistryKey>* keepKey = nullptr);

}  // namespace quorvex
