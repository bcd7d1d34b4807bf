// First stage: classify the /M text, validate it and resolve it.
#pragma once

#include <string>

#include "core/stage.h"

namespace quorvex {

struct HostIdentity {
  std::string HostName;     // upper case, full name
  std::string NetBiosName;  // HostName before its first "."
  std::string AddressText;  // the address as typed, or the looked-up address
  std::string DottedAddress;
  bool GivenAsAddress = false;
};

// Fills identity, or ends the run with 99 (malformed /M) or 1 (unresolvable).
Verdict IdentifyHost(RunEnv& env, const std::string& hostText, HostIdentity& identity);

// The part of name before its first "."; the whole name when it has no "."
// or begins with one.
std::string NetBiosPart(const std::string& name);

}  // namespace quorvex
