#include "netinfo/net_queries.h"

#include <cstddef>
#include <string_view>

#include "core/exit_codes.h"
#include "core/text.h"

namespace quorvex {

namespace {

constexpr char UncPrefix[] = "\\\\";
constexpr char TitleHeading[] = ": Checking NetBIOS name...";
constexpr std::uint32_t Success = 0;

constexpr char RetryByAddressPrefix[] = " ! Retrying NetWkstaGetInfo call with IP Address: ";
constexpr char RetryByHostNamePrefix[] = " ! Retrying NetWkstaGetInfo call with: ";
constexpr char RetryWorkstationLine[] = " ! Retrying NetWkstaGetInfo call...";
constexpr char RetryServerLine[] = " ! Retrying NetServerGetInfo call...";
constexpr char WorkstationCall[] = "NetWkstaGetInfo";
constexpr char ServerCall[] = "NetServerGetInfo";
constexpr char WorkstationFailedLine[] = " - Can not access. NetWkstaGetInfo call failed.";
constexpr char ServerFailedLine[] = " - Can not access. NetServerGetInfo call failed.";

// The server name for the second workstation query, and the line that says so.
void PrepareWorkstationRetry(RunEnv& env, const RunSettings& settings, const HostIdentity& identity,
                             std::string& uncServerName) {
  if (!settings.RetryAlternateName) {
    if (settings.Verbose) env.Out.PrintStatus(RetryWorkstationLine);
    return;
  }
  if (identity.GivenAsAddress) {
    if (settings.Verbose) env.Out.PrintStatus(RetryByAddressPrefix + identity.AddressText);
    // The text as typed may carry leading zeros, which resolvers read as
    // octal; the normalised form names the address that was meant.
    uncServerName = UncPrefix + identity.DottedAddress;
    return;
  }
  if (settings.Verbose) env.Out.PrintStatus(RetryByHostNamePrefix + identity.HostName);
  uncServerName = UncPrefix + identity.HostName;
}

// A failed call may still leave a record behind; it is freed at once so
// that `records` only ever holds what a successful call returned.
bool AskWorkstation(RunEnv& env, const std::string& uncServerName, NetInfoRecords& records) {
  const std::uint32_t status = env.System.Net.GetWorkstationInfo(uncServerName, records.Workstation);
  if (status == Success) return true;
  records.Workstation.reset();
  env.Findings.FailedCall(WorkstationCall, status);
  return false;
}

bool AskServer(RunEnv& env, const std::string& uncServerName, NetInfoRecords& records) {
  const std::uint32_t status = env.System.Net.GetServerInfo(uncServerName, records.Server);
  if (status == Success) return true;
  records.Server.reset();
  env.Findings.FailedCall(ServerCall, status);
  return false;
}

}  // namespace

void NetInfoRecords::Release() {
  Workstation.reset();
  Server.reset();
}

Verdict QueryNetInfo(RunEnv& env, const RunSettings& settings, const HostIdentity& identity, NetInfoRecords& records,
                     std::string& uncServerName, const std::function<void(const std::string&)>& answered) {
  NetManagementService& net = env.System.Net;
  uncServerName = UncPrefix + identity.NetBiosName;
  env.Out.ShowStageTitle(identity.NetBiosName, TitleHeading);

  if (!AskWorkstation(env, uncServerName, records)) {
    PrepareWorkstationRetry(env, settings, identity, uncServerName);
    if (!AskWorkstation(env, uncServerName, records)) {
      env.Out.PrintStatus(WorkstationFailedLine);
      return Verdict::End(ExitCode::NoManagement);
    }
  }
  if (answered) answered(uncServerName);
  env.Findings.Text(Fact::NetBiosName, TrimSpaces(WideToAnsi(net, records.Workstation->Info.ComputerName)));
  env.Findings.Text(Fact::Domain, TrimSpaces(WideToAnsi(net, records.Workstation->Info.LanGroup)));

  if (!AskServer(env, uncServerName, records)) {
    if (settings.Verbose) env.Out.PrintStatus(RetryServerLine);
    if (!AskServer(env, uncServerName, records)) {
      env.Out.PrintStatus(ServerFailedLine);
      return Verdict::End(ExitCode::NoManagement);
    }
  }
  return Verdict::GoOn();
}

std::string WideToAnsi(NetManagementService& net, const char16_t* text) {
  if (text == nullptr) return std::string();
  std::size_t length = 0;
  while (text[length] != u'\0') ++length;
  return net.WideToAnsiText(std::u16string_view(text, length));
}

}  // namespace quorvex
