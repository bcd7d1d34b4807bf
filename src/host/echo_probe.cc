#include "host/echo_probe.h"

#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "core/exit_codes.h"
#include "host/lookup.h"

namespace quorvex {

namespace {

struct StatusName {
  std::int32_t Status;
  const char* Text;
};

constexpr StatusName StatusNames[] = {
    {0, "Success"},
    {-1, "Bad IP format"},
    {11001, "Buffer too small"},
    {11002, "Dest net unreachable"},
    {11003, "Dest host unreachable"},
    {11004, "Dest prot unreachable"},
    {11005, "Dest port unreachable"},
    {11006, "No resources"},
    {11007, "Bad option"},
    {11008, "HW Error"},
    {11009, "Packet too big"},
    {11010, "Req timed out"},
    {11011, "Bad req"},
    {11012, "Bad route"},
    {11013, "TTL expired transit"},
    {11014, "TTL expired reassem"},
    {11015, "Param problem"},
    {11016, "Source quench"},
    {11017, "Option too big"},
    {11018, "Bad destination"},
    {11019, "Addr deleted"},
    {11020, "Spec MTU change"},
    {11021, "MTU change"},
    {11022, "Unload"},
    {11023, "Addr added"},
    {11050, "General failure"},
    {11255, "Pending"},
    {3000, "Ping timeout"},
};
constexpr char UnknownStatusPrefix[] = "Unknown Err ";

constexpr std::size_t StatusTextWidth = 24;
constexpr std::int32_t UnresolvedStatus = -1;
constexpr char UnresolvedText[] = "DNS Resolution Failure";
// Without an echo handle nothing was sent; that must read as a failure, never
// as the zero status of an untouched reply.
constexpr std::int32_t NoHandleStatus = 11050;
constexpr char FailedForwardLookup[] = "0.0.0.0";

constexpr char SecondKnockLine[] = " ! Second knock...";
constexpr char HostUpPrefix[] = " + Host UP. Successfully pinged: ";
constexpr char HostDownPrefix[] = " - Host DOWN. Could not ping: ";

std::string FixedWidth(std::string text) {
  text.resize(StatusTextWidth, ' ');
  return text;
}

void SetStatus(PingResult& result, std::int32_t status, std::string text) {
  result.Status = status;
  result.StatusText = FixedWidth(std::move(text));
}

}  // namespace

std::string IcmpStatusText(std::int32_t status) {
  for (const StatusName& name : StatusNames) {
    if (name.Status == status) return name.Text;
  }
  return UnknownStatusPrefix + std::to_string(status);
}

void ProbeHost(RunEnv& env, const std::string& hostText, std::uint32_t timeoutMs, PingResult& result) {
  LookupService& lookup = env.System.Lookup;
  std::optional<Ipv4Address> destination = lookup.InetAddr(hostText);
  if (!destination) {
    const std::string dotted = ResolveNameToDottedQuad(lookup, hostText);
    if (dotted != FailedForwardLookup) destination = lookup.InetAddr(dotted);
    if (!destination) {
      SetStatus(result, UnresolvedStatus, UnresolvedText);
      return;
    }
  }

  const std::unique_ptr<EchoHandle> handle = env.System.Echo.CreateEchoHandle();
  if (!handle) {
    SetStatus(result, NoHandleStatus, IcmpStatusText(NoHandleStatus));
    return;
  }
  const EchoReply reply = handle->SendEcho(*destination, timeoutMs);
  SetStatus(result, reply.Status, IcmpStatusText(reply.Status));
  result.RoundTripTime = reply.RoundTripTime;
}

Verdict CheckReachability(RunEnv& env, const RunSettings& settings, const HostIdentity& identity) {
  if (!settings.PingFirst) return Verdict::GoOn();

  PingResult result;
  ProbeHost(env, identity.DottedAddress, EchoTimeoutMs, result);
  if (result.Status != 0) {
    if (settings.Verbose) env.Out.PrintStatus(SecondKnockLine);
    ProbeHost(env, identity.DottedAddress, EchoTimeoutMs, result);
  }
  if (result.Status == 0) {
    env.Out.PrintStatus(HostUpPrefix + identity.DottedAddress);
    return Verdict::GoOn();
  }
  env.Out.PrintStatus(HostDownPrefix + identity.DottedAddress);
  return Verdict::End(ExitCode::Unreachable);
}

}  // namespace quorvex
