// The parsed and validated switches of one run; read-only once validated.
#pragma once

#include <cstdint>
#include <string>

namespace quorvex {

struct RunSettings {
  std::string Host;           // /M
  std::string CurrentDomain;  // /C
  std::string TargetDomain;   // /T
  std::string FreeSpaceText;  // /F as typed (trimmed, upper case); "15" by default
  std::int64_t RequiredFreeBytes = 0;
  bool SkipFreeSpace = false;       // /D, or /F 0
  bool IgnoreNameMismatch = false;  // /I
  bool WorkstationOnly = false;     // /W
  bool AllowNt4 = false;            // /A
  bool PingFirst = false;           // /P
  bool RetryAlternateName = false;  // /R
  bool Verbose = false;             // /V
  bool UsageRequested = false;      // /?, /H or an unexpected token
};

}  // namespace quorvex
