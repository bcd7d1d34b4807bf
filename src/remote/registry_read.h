// Reading one string value through the remote registry.
#pragma once

#include <string>

#include "platform/platform.h"

namespace quorvex {

inline constexpr char RegistryFailureMarker[] = "*ERROR*";

struct RegistryRead {
  bool KeyOpened = false;
  std::string Text;  // the value text, or the failure marker when the read failed
};

RegistryRead ReadRemoteRegistryString(RegistryKey& rootKey, const std::string& keyPath, const std::string& valueName);

}  // namespace quorvex
