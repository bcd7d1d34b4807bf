#include "remote/move_facts.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "core/text.h"

namespace quorvex {
namespace {

constexpr char RebootPendingKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending";
constexpr char RebootRequiredKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\RebootRequired";
constexpr char SessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char PendingRenamesValue[] = "PendingFileRenameOperations";
constexpr char ProfileListKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr char RemoteRegistryService[] = "RemoteRegistry";
// Accounts of a domain or of the host itself; built-in ones start so.
constexpr std::string_view AccountSidPrefix = "S-1-5-21-";

constexpr std::int32_t FileNotFound = 2;
constexpr std::int32_t MoreData = 234;
constexpr std::int32_t NoMoreItems = 259;
// More subkeys than any host has profiles: the listing stops there.
constexpr std::uint32_t MostProfiles = 100000;

constexpr std::string_view StartTypes[] = {"boot", "system", "automatic", "manual", "disabled"};
constexpr std::string_view ServiceStates[] = {"stopped",          "start-pending", "stop-pending", "running",
                                              "continue-pending", "pause-pending", "paused"};
// By SID_NAME_USE, from SidTypeUser (1).
constexpr std::string_view AccountKinds[] = {"user",    "group",   "unknown", "alias",   "well-known",
                                             "deleted", "unknown", "unknown", "computer"};
// Logon accounts of the host's own authorities, upper case, with their "\".
constexpr std::string_view BuiltInAuthorities[] = {"NT AUTHORITY\\", "NT SERVICE\\", "NT VIRTUAL MACHINE\\",
                                                   "BUILTIN\\", ".\\"};

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// Opens a key that may be absent: 0 with the key, FileNotFound without, or a
// failure that has been told.
std::int32_t OpenIfThere(RunEnv& env, RegistryKey& root, const std::string& path, std::unique_ptr<RegistryKey>& key) {
  const std::int32_t status = root.OpenKey(path, key);
  if (status != 0 && status != FileNotFound) env.Findings.FailedCall("RegOpenKeyExA", status);
  return status;
}

void ReportClock(RunEnv& env, const std::string& unc) {
  std::int64_t hostMs = 0;
  std::int64_t localMs = 0;
  if (const CallStatus status = env.System.Admin.RemoteClock(unc, hostMs, localMs); !status) {
    env.Findings.FailedCall(status.Call, status.Status);
    return;
  }
  env.Findings.Text(Fact::ClockSkew, TenthsOfSeconds(hostMs - localMs));
}

// A restart is pending when servicing or Windows Update left their marker
// keys, or files wait to be renamed at the next start.
void ReportRebootPending(RunEnv& env, RegistryKey& root) {
  std::vector<const char*> reasons;
  std::unique_ptr<RegistryKey> key;
  for (const auto& [path, reason] :
       {std::pair{RebootPendingKey, "component-servicing"}, std::pair{RebootRequiredKey, "windows-update"}}) {
    const std::int32_t status = OpenIfThere(env, root, path, key);
    if (status != 0 && status != FileNotFound) return;
    if (status == 0) reasons.push_back(reason);
    key.reset();
  }
  const std::int32_t status = OpenIfThere(env, root, SessionManagerKey, key);
  if (status != 0 && status != FileNotFound) return;
  if (status == 0) {
    std::uint8_t buffer[1024];
    std::uint32_t size = sizeof buffer;
    std::uint32_t type = 0;
    const std::int32_t query = key->QueryValue(PendingRenamesValue, type, buffer, size);
    if (query != 0 && query != FileNotFound && query != MoreData) {
      env.Findings.FailedCall("RegQueryValueExA", query);
      return;
    }
    // A list of names, each ended by a NUL, the list by another: any byte
    // that is no NUL is a name.
    bool named = query == MoreData;
    for (std::uint32_t i = 0; query == 0 && i < size && i < sizeof buffer; ++i) named |= buffer[i] != 0;
    if (named) reasons.push_back("file-rename");
  }
  env.Findings.Item(Fact::RebootPending, {});
  for (const char* reason : reasons) env.Findings.Item(Fact::RebootPending, {reason});
}

void ReportRemoteRegistry(RunEnv& env, const std::string& unc) {
  ServiceInfo service;
  if (const CallStatus status = env.System.Admin.QueryService(unc, RemoteRegistryService, service); !status) {
    env.Findings.FailedCall(status.Call, status.Status);
    return;
  }
  env.Findings.Item(Fact::RemoteRegistry, {ServiceStateName(service.State), StartTypeName(service.StartType)});
}

// The profiles of accounts other than the host's own, translated by the host.
void ReportProfiles(RunEnv& env, const std::string& unc, RegistryKey& root, const std::string& ownDomainSid) {
  std::unique_ptr<RegistryKey> list;
  const std::int32_t opened = OpenIfThere(env, root, ProfileListKey, list);
  if (opened != 0 && opened != FileNotFound) return;
  std::vector<AccountInfo> profiles;
  for (std::uint32_t index = 0; opened == 0 && index < MostProfiles; ++index) {
    std::string sid;
    const std::int32_t status = list->EnumKey(index, sid);
    if (status == NoMoreItems) break;
    if (status != 0) {
      env.Findings.FailedCall("RegEnumKeyExA", status);
      return;
    }
    if (StartsWith(sid, AccountSidPrefix) && !StartsWith(sid, ownDomainSid + "-")) profiles.push_back({sid, {}, {}, 0});
  }
  if (!profiles.empty()) {
    if (const CallStatus status = env.System.Admin.LookupSids(unc, profiles); !status) {
      env.Findings.FailedCall(status.Call, status.Status);
      return;
    }
  }
  env.Findings.Item(Fact::Profile, {});
  for (const AccountInfo& p : profiles) env.Findings.Item(Fact::Profile, {p.Sid, p.Name, p.Domain});
}

void ReportServices(RunEnv& env, const std::string& unc, const std::string& hostName) {
  std::vector<ServiceInfo> services;
  if (const CallStatus status = env.System.Admin.ListServices(unc, services); !status) {
    env.Findings.FailedCall(status.Call, status.Status);
    return;
  }
  env.Findings.Item(Fact::DomainService, {});
  for (const ServiceInfo& s : services) {
    if (!IsDomainAccount(s.Account, hostName)) continue;
    env.Findings.Item(Fact::DomainService,
                      {s.Name, s.DisplayName, s.Account, StartTypeName(s.StartType), ServiceStateName(s.State)});
  }
}

void ReportAdministrators(RunEnv& env, const std::string& unc) {
  std::vector<AccountInfo> members;
  if (const CallStatus status = env.System.Admin.LocalAdministrators(unc, members); !status) {
    env.Findings.FailedCall(status.Call, status.Status);
    return;
  }
  env.Findings.Item(Fact::LocalAdmin, {});
  for (const AccountInfo& m : members) {
    env.Findings.Item(Fact::LocalAdmin, {m.Sid, m.Name, m.Domain, AccountKindName(m.Use)});
  }
}

}  // namespace

bool IsDomainAccount(std::string_view account, std::string_view hostName) {
  const std::string upper = UpperCaseText(account);
  if (upper.empty() || upper == "LOCALSYSTEM") return false;
  for (std::string_view authority : BuiltInAuthorities) {
    if (StartsWith(upper, authority)) return false;
  }
  if (const auto slash = upper.find('\\'); slash != std::string::npos) {
    return upper.substr(0, slash) != UpperCaseText(TrimSpaces(hostName));
  }
  // A user principal name (svc@corp.example) is a domain's; a bare name is
  // the host's own.
  return upper.find('@') != std::string::npos;
}

std::string_view StartTypeName(std::uint32_t startType) {
  return startType < std::size(StartTypes) ? StartTypes[startType] : "unknown";
}

std::string_view ServiceStateName(std::uint32_t state) {
  return state >= 1 && state <= std::size(ServiceStates) ? ServiceStates[state - 1] : "unknown";
}

std::string_view AccountKindName(std::uint32_t sidNameUse) {
  return sidNameUse >= 1 && sidNameUse <= std::size(AccountKinds) ? AccountKinds[sidNameUse - 1] : "unknown";
}

std::string TenthsOfSeconds(std::int64_t milliseconds) {
  const std::int64_t magnitude = std::llabs(milliseconds);
  const std::int64_t tenths = (magnitude + 50) / 100;
  const bool negative = milliseconds < 0 && tenths != 0;
  return (negative ? "-" : "") + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

void ReportMoveFacts(RunEnv& env, const std::string& uncServerName, const std::string& hostName,
                     std::unique_ptr<RegistryKey> registryRoot) {
  ReportClock(env, uncServerName);
  std::string ownDomainSid;
  std::string dnsDomain;
  const CallStatus domains = env.System.Admin.HostDomains(uncServerName, ownDomainSid, dnsDomain);
  if (!domains) {
    env.Findings.FailedCall(domains.Call, domains.Status);
  } else if (!dnsDomain.empty()) {
    env.Findings.Text(Fact::DnsDomain, dnsDomain);
  }

  if (!registryRoot && env.System.Registry.ConnectRegistry(uncServerName, registryRoot) != 0) registryRoot.reset();
  if (!registryRoot) {
    // The checks told the failed connection already; why it failed is what
    // the service control manager knows of the service behind it.
    ReportRemoteRegistry(env, uncServerName);
  } else {
    ReportRebootPending(env, *registryRoot);
    // Without the host's own domain, its local accounts' profiles cannot be
    // told from the domain's.
    if (domains) ReportProfiles(env, uncServerName, *registryRoot, ownDomainSid);
  }
  registryRoot.reset();
  ReportServices(env, uncServerName, hostName);
  ReportAdministrators(env, uncServerName);
}

}  // namespace quorvex
