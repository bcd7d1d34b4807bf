// Reading one string value through the remote registry.
#pragma once

#include <string>

#include "core/findings.h"
#include "platform/platform.h"

namespace quorvex {

inline constexpr char RegistryFailureMarker[] = "*ERROR*";

struct RegistryRead {
  bool KeyOpened = false;
  std::string Text;  // the value text, or the failure marker when the read failed
};

RegistryRead ReadRemoteRegistryString(RegistryKey& rootKey, const std::string& keyPath,
                                      const std::string& valueName);

// Tells `findings` the OS values of the CurrentVersion key at keyPath beyond
// CurrentVersion itself, opening the key once. A value that is absent, of
// another registry type than its own (REG_SZ or REG_EXPAND_SZ for texts,
// REG_DWORD for numbers) or larger than a value buffer is not told.
void ReadOsDetails(RegistryKey& rootKey, const std::string& keyPath, FindingsSink& findings);

}  // namespace quorvex
