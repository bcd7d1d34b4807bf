// Optional second stage: is the host answering ICMP echo at all?
#pragma once

#include <cstdint>
#include <string>

#include "core/run_settings.h"
#include "core/stage.h"
#include "host/host_identity.h"

namespace quorvex {

inline constexpr std::uint32_t EchoTimeoutMs = 2000;

struct PingResult {
  std::uint32_t RoundTripTime = 0;
  std::int32_t Status = 0;
  std::string StatusText;  // always exactly 24 characters once an attempt ran
};

std::string IcmpStatusText(std::int32_t status);

// One echo attempt to a dotted address or a host name.
void ProbeHost(RunEnv& env, const std::string& hostText, std::uint32_t timeoutMs, PingResult& result);

// Does nothing without /P; otherwise one attempt and one retry, ending the
// run with 1 when neither is answered.
Verdict CheckReachability(RunEnv& env, const RunSettings& settings, const HostIdentity& identity);

}  // namespace quorvex
