// What the backend tests need to know about the machine they run on.
#pragma once

#include <string>

#include "platform/win32/win32_headers.h"

namespace quorvex::win32::testing {

// Wine answers some calls differently from Windows (see each test); the tests
// say which answer they expect instead of accepting both.
inline bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

}  // namespace quorvex::win32::testing
