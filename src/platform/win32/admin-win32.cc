#include <algorithm>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/win32/win32_backend.h"
#include "platform/win32/win32_headers.h"

// clang-format off
#include <winsvc.h>
#include <ntsecapi.h>
#include <sddl.h>
// clang-format on

namespace quorvex::win32 {
namespace {

constexpr NTSTATUS kStatusNoneMapped = static_cast<NTSTATUS>(0xC0000073);

// EnumServicesStatusExW refuses a buffer larger than 256 KiB; a host's list
// is usually under 64 KiB, so one page is the common case.
constexpr std::uint32_t kFirstServicePageBytes = 64 * 1024;
constexpr std::uint32_t kMaxServicePageBytes = 256 * 1024;

// LsaLookupSids takes at most 20480 SIDs a call; smaller batches also keep
// each reply well inside the RPC limits.
constexpr std::size_t kSidsPerLookup = 1000;

// The configuration can grow between the sizing call and the read.
constexpr int kConfigReadTries = 3;

struct ServiceHandleCloser {
  void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using ServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleCloser>;

struct NetBufferFreer {
  void operator()(void* buffer) const { NetApiBufferFree(buffer); }
};
template <typename T>
using NetBuffer = std::unique_ptr<T, NetBufferFreer>;

struct LsaMemoryFreer {
  void operator()(void* memory) const { LsaFreeMemory(memory); }
};
template <typename T>
using LsaMemory = std::unique_ptr<T, LsaMemoryFreer>;

struct LsaCloser {
  void operator()(LSA_HANDLE handle) const { LsaClose(handle); }
};
using LsaPolicy = std::unique_ptr<void, LsaCloser>;

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};
template <typename T>
using LocalMemory = std::unique_ptr<T, LocalFreer>;

LPWSTR AsWide(std::u16string& text) { return reinterpret_cast<LPWSTR>(text.data()); }
const char16_t* AsUtf16(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }

// A failed call whose last error reads 0 must still fail: a zero status
// would tell the core that the call answered.
DWORD LastFailure() {
  DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

std::string AnsiOfLsa(const LSA_UNICODE_STRING& text) {
  if (text.Buffer == nullptr) return {};
  return AnsiOfWide(std::u16string_view(AsUtf16(text.Buffer), text.Length / sizeof(WCHAR)));
}

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::uint64_t FileTimeValue(const FILETIME& time) {
  return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

// 0, or why the SID has no text.
DWORD SidText(PSID sid, std::string& text) {
  if (sid == nullptr || !IsValidSid(sid)) return ERROR_INVALID_SID;
  LPSTR raw = nullptr;
  if (!ConvertSidToStringSidA(sid, &raw)) return LastFailure();
  LocalMemory<char> owned(raw);
  text = raw;
  return ERROR_SUCCESS;
}

NTSTATUS OpenPolicy(std::u16string& server, ACCESS_MASK access, LsaPolicy& policy) {
  LSA_UNICODE_STRING name;
  name.Buffer = AsWide(server);
  name.Length = static_cast<USHORT>(server.size() * sizeof(WCHAR));
  name.MaximumLength = name.Length;
  LSA_OBJECT_ATTRIBUTES attributes{};  // reserved: must be all zero
  LSA_HANDLE handle = nullptr;
  NTSTATUS status = LsaOpenPolicy(&name, &attributes, access, &handle);
  if (status == 0) policy.reset(handle);
  return status;
}

// LSA_UNICODE_STRING counts bytes in 16 bits.
bool FitsLsaString(const std::u16string& text) { return text.size() <= 0x7FFF; }

// Reads the configuration into `buffer`, which keeps its size from one
// service to the next so that most reads take a single call. 0 or the error.
DWORD ReadServiceConfig(SC_HANDLE service, std::vector<std::uint64_t>& buffer) {
  for (int tries = 0; tries < kConfigReadTries; ++tries) {
    const auto bytes = static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t));
    auto* config = bytes != 0 ? reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()) : nullptr;
    DWORD needed = 0;
    if (QueryServiceConfigW(service, config, bytes, &needed)) return ERROR_SUCCESS;
    DWORD error = LastFailure();
    if (error != ERROR_INSUFFICIENT_BUFFER || needed <= bytes) return error;
    buffer.resize((needed + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
  }
  return ERROR_INSUFFICIENT_BUFFER;
}

const QUERY_SERVICE_CONFIGW& ConfigIn(const std::vector<std::uint64_t>& buffer) {
  return *reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer.data());
}

class Win32HostAdmin : public HostAdminService {
 public:
  CallStatus RemoteClock(const std::string& uncServerName, std::int64_t& hostMs, std::int64_t& localMs) override {
    std::u16string server = WideOfAnsi(uncServerName);
    if (server.empty()) return {ERROR_INVALID_NAME, "NetRemoteTOD"};
    // Wine's netapi32 exports NetRemoteTOD as a stub that raises a
    // non-continuable exception, which would end the process; Wine has no
    // remote network management either, so no host could answer there.
    if (UnderWine()) return {ERROR_CALL_NOT_IMPLEMENTED, "NetRemoteTOD"};
    FILETIME before, after;
    LPBYTE raw = nullptr;
    GetSystemTimeAsFileTime(&before);
    NET_API_STATUS status = NetRemoteTOD(AsWide(server), &raw);
    GetSystemTimeAsFileTime(&after);
    NetBuffer<TIME_OF_DAY_INFO> time(reinterpret_cast<TIME_OF_DAY_INFO*>(raw));
    if (status != NERR_Success) return {status, "NetRemoteTOD"};
    if (!time) return {ERROR_INVALID_DATA, "NetRemoteTOD"};
    hostMs = TimeOfDayMs(time->tod_elapsedt, time->tod_hunds);
    localMs = FileTimeMidpointMs(FileTimeValue(before), FileTimeValue(after));
    return {};
  }

  // A listed service whose configuration cannot be read fails the whole
  // list, except one that went away after the listing. The list is how the
  // core finds services that log on as domain accounts; one left out, or
  // kept without its account and start type, could be exactly such a service
  // and would pass unseen, while a failed list is reported as not checked.
  CallStatus ListServices(const std::string& uncServerName, std::vector<ServiceInfo>& services) override {
    std::u16string server = WideOfAnsi(uncServerName);
    if (server.empty()) return {ERROR_INVALID_NAME, "OpenSCManagerW"};
    ServiceHandle manager(OpenSCManagerW(AsWide(server), nullptr, SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_CONNECT));
    if (!manager) return {LastFailure(), "OpenSCManagerW"};

    std::vector<ServiceInfo> listed;
    std::vector<std::uint64_t> page(kFirstServicePageBytes / sizeof(std::uint64_t));
    std::vector<std::uint64_t> config;
    DWORD resume = 0;
    for (;;) {
      const auto pageBytes = static_cast<DWORD>(page.size() * sizeof(std::uint64_t));
      DWORD needed = 0, returned = 0;
      const DWORD resumedFrom = resume;
      BOOL ok =
          EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL,
                                reinterpret_cast<LPBYTE>(page.data()), pageBytes, &needed, &returned, &resume, nullptr);
      ListingPage report;
      report.Status = ok ? ERROR_SUCCESS : LastFailure();
      report.EntriesRead = returned;
      report.Resumed = resume != resumedFrom;
      report.BytesNeeded = needed;
      report.BufferBytes = pageBytes;
      PageStep step = NextPageStep(report, kMaxServicePageBytes);
      if (step == PageStep::Fail) return {report.Status, "EnumServicesStatusExW"};
      if (step == PageStep::Grow) {
        page.resize((std::min<DWORD>(needed, kMaxServicePageBytes) + sizeof(std::uint64_t) - 1) /
                    sizeof(std::uint64_t));
        continue;
      }
      const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(page.data());
      for (DWORD i = 0; i < returned; ++i) {
        CallStatus added = AddListedService(manager.get(), entries[i], config, listed);
        if (!added) return added;
      }
      if (step == PageStep::Done) break;
    }
    services = std::move(listed);
    return {};
  }

  CallStatus QueryService(const std::string& uncServerName, const std::string& name, ServiceInfo& service) override {
    std::u16string server = WideOfAnsi(uncServerName);
    if (server.empty()) return {ERROR_INVALID_NAME, "OpenSCManagerW"};
    ServiceHandle manager(OpenSCManagerW(AsWide(server), nullptr, SC_MANAGER_CONNECT));
    if (!manager) return {LastFailure(), "OpenSCManagerW"};
    std::u16string wideName = WideOfAnsi(name);
    if (wideName.empty()) return {ERROR_INVALID_NAME, "OpenServiceW"};
    ServiceHandle handle(OpenServiceW(manager.get(), AsWide(wideName), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    if (!handle) return {LastFailure(), "OpenServiceW"};
    std::vector<std::uint64_t> config;
    if (DWORD error = ReadServiceConfig(handle.get(), config)) return {error, "QueryServiceConfigW"};
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(handle.get(), &status)) return {LastFailure(), "QueryServiceStatus"};

    ServiceRecords records;
    records.DisplayName = AsUtf16(ConfigIn(config).lpDisplayName);
    records.CurrentState = status.dwCurrentState;
    records.StartType = ConfigIn(config).dwStartType;
    records.StartName = AsUtf16(ConfigIn(config).lpServiceStartName);
    service = ServiceOfRecords(records);
    service.Name = name;  // the key name as asked; the manager matches it without regard to case
    return {};
  }

  // The group is asked for by the name its SID has on the host, since a
  // host of another language names BUILTIN\Administrators in its own.
  CallStatus LocalAdministrators(const std::string& uncServerName, std::vector<AccountInfo>& members) override {
    std::u16string server = WideOfAnsi(uncServerName);
    if (server.empty()) return {ERROR_INVALID_NAME, "LookupAccountSidW"};
    std::u16string group;
    if (DWORD error = AdministratorsGroupName(server, group)) return {error, "LookupAccountSidW"};

    std::vector<AccountInfo> found;
    DWORD_PTR resume = 0;
    for (;;) {
      LPBYTE raw = nullptr;
      DWORD read = 0, total = 0;
      const DWORD_PTR resumedFrom = resume;
      NET_API_STATUS status =
          NetLocalGroupGetMembers(AsWide(server), AsWide(group), 2, &raw, MAX_PREFERRED_LENGTH, &read, &total, &resume);
      NetBuffer<LOCALGROUP_MEMBERS_INFO_2> page(reinterpret_cast<LOCALGROUP_MEMBERS_INFO_2*>(raw));
      ListingPage report;
      report.Status = status;
      report.EntriesRead = read;
      report.Resumed = resume != resumedFrom;
      PageStep step = NextPageStep(report, 0);
      if (step == PageStep::Fail) return {status, "NetLocalGroupGetMembers"};
      if (read != 0 && !page) return {ERROR_INVALID_DATA, "NetLocalGroupGetMembers"};
      for (DWORD i = 0; i < read; ++i) {
        const LOCALGROUP_MEMBERS_INFO_2& member = page.get()[i];
        std::string sid;
        if (DWORD error = SidText(member.lgrmi2_sid, sid)) return {error, "ConvertSidToStringSidA"};
        found.push_back(MemberAccount(std::move(sid), static_cast<std::uint32_t>(member.lgrmi2_sidusage),
                                      AnsiOfWide(AsUtf16(member.lgrmi2_domainandname))));
      }
      if (step == PageStep::Done) break;
    }
    members = std::move(found);
    return {};
  }

  // A Sid that is no SID's text cannot be asked about and stays
  // untranslated, like a SID the host does not know.
  CallStatus LookupSids(const std::string& uncServerName, std::vector<AccountInfo>& accounts) override {
    if (accounts.empty()) return {};
    std::u16string server = WideOfAnsi(uncServerName);
    if (server.empty() || !FitsLsaString(server)) return {ERROR_INVALID_NAME, "LsaOpenPolicy"};
    LsaPolicy policy;
    if (NTSTATUS status = OpenPolicy(server, POLICY_LOOKUP_NAMES, policy)) {
      return {LsaNtStatusToWinError(status), "LsaOpenPolicy"};
    }

    std::vector<AccountInfo> translated;
    std::vector<LocalMemory<void>> owned;
    std::vector<PSID> sids;
    std::vector<std::size_t> asked;  // where each of `sids` stands in `accounts`
    for (std::size_t i = 0; i < accounts.size(); ++i) {
      translated.push_back(TranslatedAccount(accounts[i].Sid, SidTypeUnknown, {}, {}));
      PSID sid = nullptr;
      if (!ConvertStringSidToSidA(accounts[i].Sid.c_str(), &sid)) continue;
      owned.emplace_back(sid);
      sids.push_back(sid);
      asked.push_back(i);
    }
    for (std::size_t first = 0; first < sids.size(); first += kSidsPerLookup) {
      const auto count = static_cast<ULONG>(std::min(kSidsPerLookup, sids.size() - first));
      PLSA_REFERENCED_DOMAIN_LIST rawDomains = nullptr;
      PLSA_TRANSLATED_NAME rawNames = nullptr;
      NTSTATUS status = LsaLookupSids(policy.get(), count, sids.data() + first, &rawDomains, &rawNames);
      LsaMemory<LSA_REFERENCED_DOMAIN_LIST> domains(rawDomains);
      LsaMemory<LSA_TRANSLATED_NAME> names(rawNames);
      if (!LookupAnswered(static_cast<std::uint32_t>(status))) {
        return {LsaNtStatusToWinError(status), "LsaLookupSids"};
      }
      if (!names) continue;  // nothing mapped, and nothing said of any SID
      std::vector<std::string> domainNames;
      if (domains && domains->Domains != nullptr) {
        for (ULONG d = 0; d < domains->Entries; ++d) domainNames.push_back(AnsiOfLsa(domains->Domains[d].Name));
      }
      for (ULONG j = 0; j < count; ++j) {
        const LSA_TRANSLATED_NAME& name = names.get()[j];
        AccountInfo& account = translated[asked[first + j]];
        account = LookedUpAccount(std::move(account.Sid), static_cast<std::uint32_t>(name.Use), AnsiOfLsa(name.Name),
                                  name.DomainIndex, domainNames);
      }
    }
    accounts = std::move(translated);
    return {};
  }

  CallStatus HostDomains(const std::string& uncServerName, std::string& accountDomainSid,
                         std::string& dnsDomain) override {
    std::u16string server = WideOfAnsi(uncServerName);
    if (server.empty() || !FitsLsaString(server)) return {ERROR_INVALID_NAME, "LsaOpenPolicy"};
    LsaPolicy policy;
    if (NTSTATUS status = OpenPolicy(server, POLICY_VIEW_LOCAL_INFORMATION, policy)) {
      return {LsaNtStatusToWinError(status), "LsaOpenPolicy"};
    }

    PVOID rawAccount = nullptr;
    NTSTATUS status = LsaQueryInformationPolicy(policy.get(), PolicyAccountDomainInformation, &rawAccount);
    LsaMemory<POLICY_ACCOUNT_DOMAIN_INFO> account(static_cast<POLICY_ACCOUNT_DOMAIN_INFO*>(rawAccount));
    if (status != 0) return {LsaNtStatusToWinError(status), "LsaQueryInformationPolicy"};
    if (!account) return {ERROR_INVALID_DATA, "LsaQueryInformationPolicy"};
    std::string sid;
    if (account->DomainSid != nullptr) {
      if (DWORD error = SidText(account->DomainSid, sid)) return {error, "ConvertSidToStringSidA"};
    }

    PVOID rawDns = nullptr;
    status = LsaQueryInformationPolicy(policy.get(), PolicyDnsDomainInformation, &rawDns);
    LsaMemory<POLICY_DNS_DOMAIN_INFO> dns(static_cast<POLICY_DNS_DOMAIN_INFO*>(rawDns));
    if (status != 0) return {LsaNtStatusToWinError(status), "LsaQueryInformationPolicy"};
    if (!dns) return {ERROR_INVALID_DATA, "LsaQueryInformationPolicy"};

    accountDomainSid = std::move(sid);
    dnsDomain = AnsiOfLsa(dns->DnsDomainName);
    return {};
  }

 private:
  static CallStatus AddListedService(SC_HANDLE manager, const ENUM_SERVICE_STATUS_PROCESSW& entry,
                                     std::vector<std::uint64_t>& config, std::vector<ServiceInfo>& listed) {
    ServiceHandle handle(OpenServiceW(manager, entry.lpServiceName, SERVICE_QUERY_CONFIG));
    if (!handle) {
      DWORD error = LastFailure();
      if (ServiceVanished(error)) return {};
      return {error, "OpenServiceW"};
    }
    if (DWORD error = ReadServiceConfig(handle.get(), config)) {
      if (ServiceVanished(error)) return {};
      return {error, "QueryServiceConfigW"};
    }
    ServiceRecords records;
    records.Name = AsUtf16(entry.lpServiceName);
    records.DisplayName = AsUtf16(entry.lpDisplayName);
    records.CurrentState = entry.ServiceStatusProcess.dwCurrentState;
    records.StartType = ConfigIn(config).dwStartType;
    records.StartName = AsUtf16(ConfigIn(config).lpServiceStartName);
    listed.push_back(ServiceOfRecords(records));
    return {};
  }

  // 0, or the error of LookupAccountSidW.
  static DWORD AdministratorsGroupName(std::u16string& server, std::u16string& group) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidBytes = sizeof sid;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidBytes)) return LastFailure();
    std::u16string name(GNLEN + 1, u'\0'), domain(DNLEN + 1, u'\0');
    for (int tries = 0; tries < 2; ++tries) {
      auto nameUnits = static_cast<DWORD>(name.size());
      auto domainUnits = static_cast<DWORD>(domain.size());
      SID_NAME_USE use;
      if (LookupAccountSidW(AsWide(server), sid, AsWide(name), &nameUnits, AsWide(domain), &domainUnits, &use)) {
        name.resize(nameUnits);
        if (name.empty()) return ERROR_NONE_MAPPED;
        group = std::move(name);
        return ERROR_SUCCESS;
      }
      DWORD error = LastFailure();
      if (error != ERROR_INSUFFICIENT_BUFFER) return error;
      name.resize(std::max<std::size_t>(nameUnits, name.size()));
      domain.resize(std::max<std::size_t>(domainUnits, domain.size()));
    }
    return ERROR_INSUFFICIENT_BUFFER;
  }
};

// SID_NAME_USE values that name an account, SidTypeUser .. SidTypeLogonSession
// less the two that say the SID has no name.
bool NamesAnAccount(std::uint32_t use) {
  return use >= SidTypeUser && use <= SidTypeLogonSession && use != SidTypeInvalid && use != SidTypeUnknown;
}

}  // namespace

std::int64_t TimeOfDayMs(std::uint32_t elapsedSeconds, std::uint32_t hundredths) {
  return static_cast<std::int64_t>(elapsedSeconds) * 1000 + static_cast<std::int64_t>(hundredths) * 10;
}

std::int64_t FileTimeMidpointMs(std::uint64_t before, std::uint64_t after) {
  constexpr std::int64_t kUnixEpoch = 116444736000000000;  // 1970-01-01 in 100 ns units since 1601
  const auto early = static_cast<std::int64_t>(before), late = static_cast<std::int64_t>(after);
  return (early + (late - early) / 2 - kUnixEpoch) / 10000;
}

AccountInfo TranslatedAccount(std::string sid, std::uint32_t use, std::string domain, std::string name) {
  AccountInfo account;
  account.Sid = std::move(sid);
  if (!NamesAnAccount(use)) {
    account.Use = SidTypeUnknown;
    return account;
  }
  account.Use = use;
  account.Domain = std::move(domain);
  account.Name = std::move(name);
  return account;
}

AccountInfo MemberAccount(std::string sid, std::uint32_t sidUsage, std::string_view domainAndName) {
  const std::size_t cut = domainAndName.find('\\');
  if (cut == std::string_view::npos) return TranslatedAccount(std::move(sid), sidUsage, {}, std::string(domainAndName));
  return TranslatedAccount(std::move(sid), sidUsage, std::string(domainAndName.substr(0, cut)),
                           std::string(domainAndName.substr(cut + 1)));
}

AccountInfo LookedUpAccount(std::string sid, std::uint32_t use, std::string name, std::int32_t domainIndex,
                            const std::vector<std::string>& domainNames) {
  const bool known = domainIndex >= 0 && static_cast<std::size_t>(domainIndex) < domainNames.size();
  return TranslatedAccount(std::move(sid), use, known ? domainNames[static_cast<std::size_t>(domainIndex)] : "",
                           std::move(name));
}

bool LookupAnswered(std::uint32_t ntStatus) {
  return static_cast<NTSTATUS>(ntStatus) >= 0 || static_cast<NTSTATUS>(ntStatus) == kStatusNoneMapped;
}

ServiceInfo ServiceOfRecords(const ServiceRecords& records) {
  ServiceInfo service;
  service.Name = AnsiOfWide(records.Name);
  service.DisplayName = AnsiOfWide(records.DisplayName);
  service.Account = AnsiOfWide(records.StartName);
  service.StartType = records.StartType;
  service.State = records.CurrentState;
  return service;
}

bool ServiceVanished(std::uint32_t lastError) {
  return lastError == ERROR_SERVICE_DOES_NOT_EXIST || lastError == ERROR_SERVICE_MARKED_FOR_DELETE;
}

PageStep NextPageStep(const ListingPage& page, std::uint32_t maxBufferBytes) {
  if (page.Status == ERROR_SUCCESS) return PageStep::Done;
  if (page.Status != ERROR_MORE_DATA) return PageStep::Fail;
  if (page.EntriesRead != 0) return page.Resumed ? PageStep::Next : PageStep::Fail;
  if (page.BytesNeeded > page.BufferBytes && page.BufferBytes < maxBufferBytes) return PageStep::Grow;
  return PageStep::Fail;
}

std::unique_ptr<HostAdminService> MakeHostAdminService() { return std::make_unique<Win32HostAdmin>(); }

}  // namespace quorvex::win32
