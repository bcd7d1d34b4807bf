#include "host/host_identity.h"

#include <cstdint>
#include <string_view>

#include "core/exit_codes.h"
#include "core/text.h"
#include "host/address.h"
#include "host/lookup.h"

namespace quorvex {

namespace {

constexpr std::string_view Letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr char NameSeparator = '.';
constexpr std::size_t MaxNetBiosLength = 15;
constexpr char FailedForwardLookup[] = "0.0.0.0";

constexpr char InvalidAddressLine[] = "ERROR: /M: Invalid IP Address. Please check format.";
constexpr char InvalidNetBiosLine[] = "ERROR: /M: Invalid NetBIOS hostname (must be 15 characters or less).";
constexpr char ReverseFailedLine[] = " - Could not resolve IP Address to hostname.";
constexpr char ForwardFailedLine[] = " - Could not resolve hostname to IP Address.";
constexpr char ReverseResolvedPrefix[] = " + Resolved IP address to: ";
constexpr char ForwardResolvedPrefix[] = " + Resolved hostname to: ";

Verdict IdentifyByAddress(RunEnv& env, const std::string& hostText, HostIdentity& identity) {
  if (!IsValidAddressText(hostText)) {
    env.Out.PrintDirect(InvalidAddressLine);
    return Verdict::End(ExitCode::InvalidValue);
  }
  identity.AddressText = hostText;
  identity.GivenAsAddress = true;
  const Ipv4Address address = ParseDottedAddress(hostText);
  identity.DottedAddress = FormatDottedQuad(address);

  const std::string name = ResolveAddressToName(env.System.Lookup, address);
  if (name.empty()) {
    env.Out.PrintStatus(ReverseFailedLine);
    return Verdict::End(ExitCode::Unreachable);
  }
  identity.HostName = UpperCaseText(name);
  env.Out.PrintStatus(ReverseResolvedPrefix + Printable(identity.HostName));
  // A name found by reverse lookup was never typed, so it is not held to the
  // NetBIOS length limit.
  identity.NetBiosName = NetBiosPart(identity.HostName);
  return Verdict::GoOn();
}

Verdict IdentifyByName(RunEnv& env, const std::string& hostText, HostIdentity& identity) {
  identity.HostName = hostText;
  identity.NetBiosName = NetBiosPart(hostText);
  if (identity.NetBiosName.size() > MaxNetBiosLength) {
    env.Out.PrintDirect(InvalidNetBiosLine);
    return Verdict::End(ExitCode::InvalidValue);
  }
  identity.DottedAddress = FormatDottedQuad(ResolveNameToAddress(env.System.Lookup, hostText));
  if (identity.DottedAddress == FailedForwardLookup) {
    env.Out.PrintStatus(ForwardFailedLine);
    return Verdict::End(ExitCode::Unreachable);
  }
  env.Out.PrintStatus(ForwardResolvedPrefix + identity.DottedAddress);
  identity.AddressText = identity.DottedAddress;
  return Verdict::GoOn();
}

}  // namespace

Verdict IdentifyHost(RunEnv& env, const std::string& hostText, HostIdentity& identity) {
  identity.NetBiosName = hostText;
  const Verdict verdict = hostText.find_first_of(Letters) != std::string::npos
                              ? IdentifyByName(env, hostText, identity)
                              : IdentifyByAddress(env, hostText, identity);
  if (!verdict.EndsRun) {
    env.Findings.Text(Fact::Address, identity.DottedAddress);
    env.Findings.Text(Fact::FullName, identity.HostName);
  }
  return verdict;
}

std::string NetBiosPart(const std::string& name) {
  const std::size_t dot = name.find(NameSeparator);
  if (dot == std::string::npos || dot == 0) return name;
  return name.substr(0, dot);
}

}  // namespace quorvex
