#include "platform/posix/samba/host_admin.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>
#include <vector>

#include "core/encoding.h"
#include "platform/posix/samba/ndr.h"
#include "platform/posix/samba/samba_abi.h"
#include "platform/posix/samba/smb_text.h"
#include "platform/posix/samba/win32_status.h"

extern "C" {
#include <core/ntstatus.h>
#include <core/werror.h>
#include <dcerpc.h>
#include <gen_ndr/lsa.h>
#include <gen_ndr/ndr_samr.h>
#include <gen_ndr/ndr_svcctl.h>
#include <gen_ndr/samr.h>
#include <gen_ndr/security.h>
#include <gen_ndr/svcctl.h>
}

namespace quorvex::samba {
namespace {

// The Win32 calls each seam call stands for, as CallStatus names them.
constexpr const char* OpenSCManager = "OpenSCManagerW";
constexpr const char* EnumServices = "EnumServicesStatusExW";
constexpr const char* OpenService = "OpenServiceW";
constexpr const char* QueryServiceConfig = "QueryServiceConfigW";
constexpr const char* QueryServiceStatus = "QueryServiceStatus";
constexpr const char* LocalGroupMembers = "NetLocalGroupGetMembers";
constexpr const char* LookupSidsCall = "LsaLookupSids";
constexpr const char* QueryPolicy = "LsaQueryInformationPolicy";
constexpr const char* RemoteTod = "NetRemoteTOD";

using Win32::BadNetPath;
using Win32::InvalidData;
using Win32::InvalidSid;
using Win32::MoreData;
using Win32::RpcServerUnavailable;

// lsarpc has no installed opnum header.
constexpr std::uint16_t OpLsaQueryInfoPolicy = 7;
constexpr std::uint16_t OpLsaLookupSids = 15;
constexpr std::uint16_t OpLsaOpenPolicy2 = 44;

constexpr std::uint32_t ServiceWin32 = 0x30;      // SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS
constexpr std::uint32_t ConfigBufferSize = 8192;  // the most QueryServiceConfigW may be offered
// What one reply fragment carries: the hosts with few services (Samba's
// four) answer in one, the others say how much the rest needs.
constexpr std::uint32_t FirstEnumerationSize = 0x1000;
constexpr std::uint32_t LargestEnumerationSize = 0x40000;  // the most EnumServicesStatus may be offered
// A host that keeps answering "more data" without progress is not followed
// for ever.
constexpr int MaxEnumerationRounds = 64;

constexpr std::uint32_t AdministratorsRid = 0x220;
// What one LsaLookupSids request carries at most; the interface allows more,
// a host's reply for them all in one piece need not.
constexpr std::size_t LookupBatch = 1000;

std::int64_t WallClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string Utf8Of(const std::u16string& text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xff));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return Utf16ToUtf8(bytes, false);
}

// Samba's generated code hands strings over as UTF-8; the seam's are code
// page 437.
std::string Cp437Of(const char* utf8) { return utf8 != nullptr ? Utf8ToCp437(utf8) : std::string(); }

std::string SidTextOf(const dom_sid& sid) {
  SidParts parts;
  parts.Revision = sid.sid_rev_num;
  for (std::uint8_t byte : sid.id_auth) parts.Authority = (parts.Authority << 8) | byte;
  const auto count =
      std::min<std::size_t>(static_cast<std::size_t>(std::max<int>(sid.num_auths, 0)), MaxSubAuthorities);
  parts.SubAuthorities.assign(sid.sub_auths, sid.sub_auths + count);
  return SidText(parts);
}

std::optional<dom_sid> SidOf(const std::string& text) {
  std::optional<SidParts> parts = ParseSid(text);
  if (!parts) return std::nullopt;
  dom_sid sid{};
  sid.sid_rev_num = parts->Revision;
  sid.num_auths = static_cast<std::int8_t>(parts->SubAuthorities.size());
  for (int i = 5; i >= 0; --i) sid.id_auth[i] = static_cast<std::uint8_t>(parts->Authority >> (8 * (5 - i)));
  std::copy(parts->SubAuthorities.begin(), parts->SubAuthorities.end(), sid.sub_auths);
  return sid;
}

// The requests of one seam call on one host: the first one's session is
// the only one the others may use, and their replies live until the call
// returns.
class HostCalls {
 public:
  HostCalls(SessionPool& pool, std::string server) : pool_(pool), server_(std::move(server)), memory_(NewTalloc()) {}

  template <typename Call>
  bool Invoke(RpcInterface iface, std::uint16_t opnum, Call& call) {
    return pool_.Invoke(server_, iface, opnum, &call, memory_.get(), session_, session_ == 0 ? &session_ : nullptr);
  }

  // Raw stubs, for the calls in hand-written NDR.
  std::optional<Bytes> Call(RpcInterface iface, std::uint16_t opnum, const Bytes& request) {
    return pool_.Call(server_, iface, opnum, request, session_, session_ == 0 ? &session_ : nullptr);
  }

  // The Win32 code of the last request's transport failure: a host out of
  // reach before any call, the RPC server's absence after.
  std::uint32_t TransportFailure() const {
    CallFailure failure = pool_.LastFailure();
    return Win32StatusOf(failure, failure.Step == FailedStep::Call ? RpcServerUnavailable : BadNetPath);
  }

  TALLOC_CTX* Memory() { return memory_.get(); }

 private:
  SessionPool& pool_;
  std::string server_;
  std::uint64_t session_ = 0;
  TallocPtr<> memory_;
};

// A handle opened on the host. None is closed one by one: a handle belongs
// to its pipe, the pipe to the session, and the host lets them all go when
// the session ends, which is when the host's check ends (a check has a
// session pool of its own, sweep workers included). A close of each would
// be a round trip a handle: on a Windows host, one for every service listed.
class HostHandle {
 public:
  // What an open call returned (its out pointer, which the unmarshalling
  // may have replaced with memory of its own).
  void Opened(const policy_handle* handle) {
    if (handle != nullptr) handle_ = *handle;
  }
  policy_handle* Get() { return &handle_; }

 private:
  policy_handle handle_{};
};

// svcctl answers WERRORs, which are Win32 codes already.
CallStatus ServiceFailure(HostCalls& calls, bool sent, WERROR result, std::string_view call) {
  if (!sent) return {calls.TransportFailure(), call};
  return {W_ERROR_V(result), call};
}

CallStatus OpenManager(HostCalls& calls, HostHandle& manager) {
  policy_handle out{};
  svcctl_OpenSCManagerW r{};
  r.in.MachineName = nullptr;  // the pipe already names the host
  r.in.DatabaseName = nullptr;
  r.in.access_mask = SC_RIGHT_MGR_CONNECT | SC_RIGHT_MGR_ENUMERATE_SERVICE;
  r.out.handle = &out;
  bool sent = calls.Invoke(RpcInterface::ServiceControl, NDR_SVCCTL_OPENSCMANAGERW, r);
  if (!sent || !W_ERROR_IS_OK(r.out.result)) return ServiceFailure(calls, sent, r.out.result, OpenSCManager);
  manager.Opened(r.out.handle);
  return {};
}

CallStatus OpenOneService(HostCalls& calls, HostHandle& manager, const std::string& utf8Name, HostHandle& service) {
  policy_handle out{};
  svcctl_OpenServiceW r{};
  r.in.scmanager_handle = manager.Get();
  r.in.ServiceName = utf8Name.c_str();
  r.in.access_mask = SC_RIGHT_SVC_QUERY_CONFIG | SC_RIGHT_SVC_QUERY_STATUS;
  r.out.handle = &out;
  bool sent = calls.Invoke(RpcInterface::ServiceControl, NDR_SVCCTL_OPENSERVICEW, r);
  if (!sent || !W_ERROR_IS_OK(r.out.result)) return ServiceFailure(calls, sent, r.out.result, OpenService);
  service.Opened(r.out.handle);
  return {};
}

// Start type, logon account and display name (kept when the host sends none).
CallStatus QueryConfig(HostCalls& calls, HostHandle& service, ServiceInfo& info) {
  QUERY_SERVICE_CONFIG config{};
  std::uint32_t needed = 0;
  svcctl_QueryServiceConfigW r{};
  r.in.handle = service.Get();
  r.in.offered = ConfigBufferSize;
  r.out.query = &config;
  r.out.needed = &needed;
  bool sent = calls.Invoke(RpcInterface::ServiceControl, NDR_SVCCTL_QUERYSERVICECONFIGW, r);
  if (!sent || !W_ERROR_IS_OK(r.out.result)) return ServiceFailure(calls, sent, r.out.result, QueryServiceConfig);
  if (r.out.query == nullptr) return {InvalidData, QueryServiceConfig};
  info.StartType = static_cast<std::uint32_t>(r.out.query->start_type);
  info.Account = Cp437Of(r.out.query->startname);
  if (r.out.query->displayname != nullptr) info.DisplayName = Cp437Of(r.out.query->displayname);
  return {};
}

CallStatus QueryState(HostCalls& calls, HostHandle& service, ServiceInfo& info) {
  SERVICE_STATUS status{};
  svcctl_QueryServiceStatus r{};
  r.in.handle = service.Get();
  r.out.service_status = &status;
  bool sent = calls.Invoke(RpcInterface::ServiceControl, NDR_SVCCTL_QUERYSERVICESTATUS, r);
  if (!sent || !W_ERROR_IS_OK(r.out.result)) return ServiceFailure(calls, sent, r.out.result, QueryServiceStatus);
  if (r.out.service_status == nullptr) return {InvalidData, QueryServiceStatus};
  info.State = static_cast<std::uint32_t>(r.out.service_status->state);
  return {};
}

// One round of an enumeration: the records of this round's buffer, the
// host's WERROR, and where the next round starts.
struct EnumerationRound {
  bool Sent = false;
  WERROR Result{};
  std::vector<std::uint8_t> Buffer;
  std::uint32_t Returned = 0;
  std::uint32_t Needed = 0;
  std::uint32_t Resume = 0;
};

// The older call rather than EnumServicesStatusExW: every Windows answers
// it with the same records but for the process, which nothing here needs,
// and Samba has no other.
EnumerationRound EnumerateBasic(HostCalls& calls, HostHandle& manager, std::uint32_t offered, std::uint32_t resume) {
  EnumerationRound round;
  std::vector<std::uint8_t> buffer(offered);
  std::uint32_t resumeIn = resume;
  std::uint32_t needed = 0;
  std::uint32_t returned = 0;
  svcctl_EnumServicesStatusW r{};
  r.in.handle = manager.Get();
  r.in.type = ServiceWin32;
  r.in.state = SERVICE_STATE_ALL;
  r.in.offered = offered;
  r.in.resume_handle = &resumeIn;
  r.out.service = buffer.data();
  r.out.needed = &needed;
  r.out.services_returned = &returned;
  r.out.resume_handle = &resumeIn;
  round.Sent = calls.Invoke(RpcInterface::ServiceControl, NDR_SVCCTL_ENUMSERVICESSTATUSW, r);
  round.Result = r.out.result;
  if (round.Sent) {
    if (r.out.service != nullptr) round.Buffer.assign(r.out.service, r.out.service + offered);
    round.Needed = r.out.needed != nullptr ? *r.out.needed : 0;
    round.Returned = r.out.services_returned != nullptr ? *r.out.services_returned : 0;
    round.Resume = r.out.resume_handle != nullptr ? *r.out.resume_handle : 0;
  }
  return round;
}

// Every Win32 service the host lists, in as many rounds as it takes: a host
// with more than a buffer holds answers "more data" with the records that fit
// (Windows) or none (Samba), how much the rest needs and where to resume.
// The reply carries the whole buffer offered, so the first offer is small.
CallStatus EnumerateServices(HostCalls& calls, HostHandle& manager, std::vector<ServiceEntry>& entries) {
  std::uint32_t offered = FirstEnumerationSize;
  std::uint32_t resume = 0;
  for (int i = 0; i < MaxEnumerationRounds; ++i) {
    EnumerationRound round = EnumerateBasic(calls, manager, offered, resume);
    const bool more = W_ERROR_EQUAL(round.Result, WERR_MORE_DATA);
    if (!round.Sent || (!W_ERROR_IS_OK(round.Result) && !more)) {
      return ServiceFailure(calls, round.Sent, round.Result, EnumServices);
    }
    auto decoded =
        DecodeServiceEntries(round.Buffer.data(), round.Buffer.size(), round.Returned, ServiceRecordLayout::Status);
    if (!decoded) return {InvalidData, EnumServices};
    entries.insert(entries.end(), decoded->begin(), decoded->end());
    if (!more) return {};
    if (round.Returned == 0 && (offered >= LargestEnumerationSize || round.Needed <= offered)) {
      return {MoreData, EnumServices};
    }
    offered = std::clamp(round.Needed, offered, LargestEnumerationSize);
    resume = round.Resume;
  }
  return {MoreData, EnumServices};
}

// lsarpc and samr answer NTSTATUS results.
CallStatus AccountFailure(HostCalls& calls, bool sent, NTSTATUS result, std::string_view call) {
  if (!sent) return {calls.TransportFailure(), call};
  return {Win32StatusOfResult(NT_STATUS_V(result)), call};
}

CallStatus OpenPolicy(HostCalls& calls, HostHandle& policy, std::uint32_t access, std::string_view call) {
  // What Samba's own client sends, which Windows hosts accept.
  lsa_QosInfo qos{};
  qos.len = 0xc;
  qos.impersonation_level = 2;
  qos.context_mode = 1;
  lsa_ObjectAttribute attributes{};
  attributes.len = 0x18;
  attributes.sec_qos = &qos;
  policy_handle out{};
  lsa_OpenPolicy2 r{};
  r.in.system_name = nullptr;
  r.in.attr = &attributes;
  r.in.access_mask = access;
  r.out.handle = &out;
  bool sent = calls.Invoke(RpcInterface::Policy, OpLsaOpenPolicy2, r);
  if (!sent || !NT_STATUS_IS_OK(r.out.result)) return AccountFailure(calls, sent, r.out.result, call);
  policy.Opened(r.out.handle);
  return {};
}

// Names, domains and uses of the accounts' SIDs, in batches on one policy
// handle. A SID text that names no SID fails the call, as converting it
// would on Windows.
CallStatus Translate(HostCalls& calls, std::vector<AccountInfo>& accounts, std::string_view call) {
  std::vector<dom_sid> sids;
  sids.reserve(accounts.size());
  for (const AccountInfo& account : accounts) {
    std::optional<dom_sid> sid = SidOf(account.Sid);
    if (!sid) return {InvalidSid, call};
    sids.push_back(*sid);
  }
  if (sids.empty()) return {};
  HostHandle policy;
  if (CallStatus opened = OpenPolicy(calls, policy, LSA_POLICY_LOOKUP_NAMES, call); !opened) return opened;
  for (std::size_t first = 0; first < sids.size(); first += LookupBatch) {
    const std::size_t count = std::min(LookupBatch, sids.size() - first);
    std::vector<lsa_SidPtr> pointers(count);
    for (std::size_t i = 0; i < count; ++i) pointers[i].sid = &sids[first + i];
    lsa_SidArray in{};
    in.num_sids = static_cast<std::uint32_t>(count);
    in.sids = pointers.data();
    lsa_TransNameArray names{};
    std::uint32_t mapped = 0;
    lsa_RefDomainList* domains = nullptr;
    lsa_LookupSids r{};
    r.in.handle = policy.Get();
    r.in.sids = &in;
    r.in.names = &names;
    r.in.level = LSA_LOOKUP_NAMES_ALL;
    r.in.count = &mapped;
    r.out.domains = &domains;
    r.out.names = &names;
    r.out.count = &mapped;
    bool sent = calls.Invoke(RpcInterface::Policy, OpLsaLookupSids, r);
    // Some or none of the SIDs mapped is an answer, not a failure.
    const bool answered = NT_STATUS_IS_OK(r.out.result) || NT_STATUS_EQUAL(r.out.result, NT_STATUS_SOME_NOT_MAPPED) ||
                          NT_STATUS_EQUAL(r.out.result, NT_STATUS_NONE_MAPPED);
    if (!sent || !answered) return AccountFailure(calls, sent, r.out.result, call);
    FillTranslations(r.out.domains != nullptr ? *r.out.domains : nullptr, r.out.names, accounts.data() + first, count);
  }
  return {};
}

// The SIDs of BUILTIN\Administrators' members.
CallStatus AdministratorSids(HostCalls& calls, std::vector<AccountInfo>& members) {
  HostHandle connect;
  policy_handle connectOut{};
  samr_Connect2 c{};
  c.in.system_name = nullptr;
  c.in.access_mask = SAMR_ACCESS_CONNECT_TO_SERVER | SAMR_ACCESS_LOOKUP_DOMAIN;
  c.out.connect_handle = &connectOut;
  bool sent = calls.Invoke(RpcInterface::Accounts, NDR_SAMR_CONNECT2, c);
  if (!sent || !NT_STATUS_IS_OK(c.out.result)) return AccountFailure(calls, sent, c.out.result, LocalGroupMembers);
  connect.Opened(c.out.connect_handle);

  HostHandle domain;
  dom_sid builtin = *SidOf("S-1-5-32");
  policy_handle domainOut{};
  samr_OpenDomain d{};
  d.in.connect_handle = connect.Get();
  d.in.access_mask = SAMR_DOMAIN_ACCESS_OPEN_ACCOUNT;
  d.in.sid = &builtin;
  d.out.domain_handle = &domainOut;
  sent = calls.Invoke(RpcInterface::Accounts, NDR_SAMR_OPENDOMAIN, d);
  if (!sent || !NT_STATUS_IS_OK(d.out.result)) return AccountFailure(calls, sent, d.out.result, LocalGroupMembers);
  domain.Opened(d.out.domain_handle);

  HostHandle alias;
  policy_handle aliasOut{};
  samr_OpenAlias a{};
  a.in.domain_handle = domain.Get();
  a.in.access_mask = SAMR_ALIAS_ACCESS_GET_MEMBERS;
  a.in.rid = AdministratorsRid;
  a.out.alias_handle = &aliasOut;
  sent = calls.Invoke(RpcInterface::Accounts, NDR_SAMR_OPENALIAS, a);
  if (!sent || !NT_STATUS_IS_OK(a.out.result)) return AccountFailure(calls, sent, a.out.result, LocalGroupMembers);
  alias.Opened(a.out.alias_handle);

  lsa_SidArray sids{};
  samr_GetMembersInAlias g{};
  g.in.alias_handle = alias.Get();
  g.out.sids = &sids;
  sent = calls.Invoke(RpcInterface::Accounts, NDR_SAMR_GETMEMBERSINALIAS, g);
  if (!sent || !NT_STATUS_IS_OK(g.out.result)) return AccountFailure(calls, sent, g.out.result, LocalGroupMembers);
  if (g.out.sids == nullptr || (g.out.sids->num_sids != 0 && g.out.sids->sids == nullptr)) {
    return {InvalidData, LocalGroupMembers};
  }
  for (std::uint32_t i = 0; i < g.out.sids->num_sids; ++i) {
    const dom_sid* sid = g.out.sids->sids[i].sid;
    if (sid == nullptr) continue;
    AccountInfo member;
    member.Sid = SidTextOf(*sid);
    members.push_back(std::move(member));
  }
  return {};
}

// One level of the policy's information; null with the status when the
// host refused it.
CallStatus QueryPolicyInfo(HostCalls& calls, HostHandle& policy, lsa_PolicyInfo level, lsa_PolicyInformation*& info,
                           NTSTATUS& result) {
  info = nullptr;
  lsa_QueryInfoPolicy r{};
  r.in.handle = policy.Get();
  r.in.level = level;
  r.out.info = &info;
  bool sent = calls.Invoke(RpcInterface::Policy, OpLsaQueryInfoPolicy, r);
  if (!sent) return {calls.TransportFailure(), QueryPolicy};
  result = r.out.result;
  if (r.out.info != nullptr) info = *r.out.info;
  return {};
}

class SambaHostAdmin : public HostAdminService {
 public:
  explicit SambaHostAdmin(std::function<SessionPool*()> pool) : pool_(std::move(pool)) {}

  CallStatus RemoteClock(const std::string& uncServerName, std::int64_t& hostMs, std::int64_t& localMs) override {
    std::optional<std::string> server = ServerNameOf(uncServerName);
    SessionPool* pool = pool_();
    if (!server || pool == nullptr) return {BadNetPath, RemoteTod};
    std::optional<NegotiatedClock> clock = pool->Clock(*server);
    if (!clock) {
      CallFailure failure = pool->LastFailure();
      return {Win32StatusOf(failure, BadNetPath), RemoteTod};
    }
    if (clock->ServerFileTime == 0) return RemoteTimeOfDay(*pool, *server, hostMs, localMs);
    hostMs = UnixMsOfFileTime(clock->ServerFileTime);
    localMs = clock->LocalMs;
    return {};
  }

  CallStatus ListServices(const std::string& uncServerName, std::vector<ServiceInfo>& services) override {
    services.clear();
    std::optional<std::string> server = ServerNameOf(uncServerName);
    SessionPool* pool = pool_();
    if (!server || pool == nullptr) return {BadNetPath, OpenSCManager};
    HostCalls calls(*pool, *server);
    HostHandle manager;
    if (CallStatus opened = OpenManager(calls, manager); !opened) return opened;
    std::vector<ServiceEntry> entries;
    if (CallStatus listed = EnumerateServices(calls, manager, entries); !listed) return listed;
    std::vector<ServiceInfo> found;
    found.reserve(entries.size());
    for (const ServiceEntry& entry : entries) {
      ServiceInfo info;
      info.Name = Utf16ToCp437(entry.Name);
      info.DisplayName = Utf16ToCp437(entry.DisplayName);
      info.State = entry.State;
      HostHandle service;
      CallStatus status = OpenOneService(calls, manager, Utf8Of(entry.Name), service);
      if (status) status = QueryConfig(calls, service, info);
      if (!status) return status;
      found.push_back(std::move(info));
    }
    services = std::move(found);
    return {};
  }

  CallStatus QueryService(const std::string& uncServerName, const std::string& name, ServiceInfo& service) override {
    std::optional<std::string> server = ServerNameOf(uncServerName);
    SessionPool* pool = pool_();
    if (!server || pool == nullptr) return {BadNetPath, OpenSCManager};
    HostCalls calls(*pool, *server);
    HostHandle manager;
    if (CallStatus opened = OpenManager(calls, manager); !opened) return opened;
    HostHandle handle;
    ServiceInfo info;
    info.Name = name;
    CallStatus status = OpenOneService(calls, manager, Cp437ToUtf8(name), handle);
    if (status) status = QueryConfig(calls, handle, info);
    if (status) status = QueryState(calls, handle, info);
    if (!status) return status;
    service = std::move(info);
    return {};
  }

  CallStatus LocalAdministrators(const std::string& uncServerName, std::vector<AccountInfo>& members) override {
    members.clear();
    std::optional<std::string> server = ServerNameOf(uncServerName);
    SessionPool* pool = pool_();
    if (!server || pool == nullptr) return {BadNetPath, LocalGroupMembers};
    HostCalls calls(*pool, *server);
    std::vector<AccountInfo> found;
    if (CallStatus listed = AdministratorSids(calls, found); !listed) return listed;
    if (CallStatus named = Translate(calls, found, LocalGroupMembers); !named) return named;
    members = std::move(found);
    return {};
  }

  CallStatus LookupSids(const std::string& uncServerName, std::vector<AccountInfo>& accounts) override {
    std::optional<std::string> server = ServerNameOf(uncServerName);
    SessionPool* pool = pool_();
    if (!server || pool == nullptr) return {BadNetPath, LookupSidsCall};
    HostCalls calls(*pool, *server);
    std::vector<AccountInfo> translated = accounts;
    if (CallStatus named = Translate(calls, translated, LookupSidsCall); !named) return named;
    accounts = std::move(translated);
    return {};
  }

  CallStatus HostDomains(const std::string& uncServerName, std::string& accountDomainSid,
                         std::string& dnsDomain) override {
    std::optional<std::string> server = ServerNameOf(uncServerName);
    SessionPool* pool = pool_();
    if (!server || pool == nullptr) return {BadNetPath, QueryPolicy};
    HostCalls calls(*pool, *server);
    HostHandle policy;
    if (CallStatus opened = OpenPolicy(calls, policy, LSA_POLICY_VIEW_LOCAL_INFORMATION, QueryPolicy); !opened) {
      return opened;
    }
    lsa_PolicyInformation* info = nullptr;
    NTSTATUS result = NT_STATUS_OK;
    if (CallStatus sent = QueryPolicyInfo(calls, policy, LSA_POLICY_INFO_ACCOUNT_DOMAIN, info, result); !sent) {
      return sent;
    }
    if (!NT_STATUS_IS_OK(result)) return {Win32StatusOfResult(NT_STATUS_V(result)), QueryPolicy};
    if (info == nullptr) return {InvalidData, QueryPolicy};
    std::string sid = info->account_domain.sid != nullptr ? SidTextOf(*info->account_domain.sid) : std::string();

    if (CallStatus sent = QueryPolicyInfo(calls, policy, LSA_POLICY_INFO_DNS, info, result); !sent) return sent;
    std::string dns;
    // A host that keeps no DNS domain information (Samba outside an AD
    // domain) refuses the level: it belongs to no DNS domain.
    if (NT_STATUS_IS_OK(result)) {
      if (info == nullptr) return {InvalidData, QueryPolicy};
      dns = Cp437Of(info->dns.dns_domain.string);
    } else if (!NT_STATUS_EQUAL(result, NT_STATUS_INVALID_INFO_CLASS)) {
      return {Win32StatusOfResult(NT_STATUS_V(result)), QueryPolicy};
    }
    accountDomainSid = std::move(sid);
    dnsDomain = std::move(dns);
    return {};
  }

 private:
  std::function<SessionPool*()> pool_;
};

}  // namespace

std::unique_ptr<HostAdminService> MakeHostAdmin(std::function<SessionPool*()> pool) {
  return std::make_unique<SambaHostAdmin>(std::move(pool));
}

CallStatus RemoteTimeOfDay(SessionPool& pool, const std::string& server, std::int64_t& hostMs, std::int64_t& localMs) {
  const std::int64_t sent = WallClockMs();
  std::optional<Bytes> reply = pool.Call(server, RpcInterface::Server, OpNetRemoteTOD, EncodeNetRemoteTOD());
  const std::int64_t received = WallClockMs();
  if (!reply) {
    CallFailure failure = pool.LastFailure();
    return {Win32StatusOf(failure, failure.Step == FailedStep::Call ? RpcServerUnavailable : BadNetPath), RemoteTod};
  }
  auto decoded = DecodeNetRemoteTOD(reply->data(), reply->size());
  if (!decoded) return {InvalidData, RemoteTod};
  if (decoded->WError != 0) return {decoded->WError, RemoteTod};
  hostMs = UnixMsOf(decoded->Value);
  localMs = sent + (received - sent) / 2;
  return {};
}

void FillTranslations(const lsa_RefDomainList* domains, const lsa_TransNameArray* names, AccountInfo* accounts,
                      std::size_t count) {
  const std::size_t named = names != nullptr && names->names != nullptr ? names->count : 0;
  const std::size_t known = domains != nullptr && domains->domains != nullptr ? domains->count : 0;
  for (std::size_t i = 0; i < count; ++i) {
    AccountInfo& account = accounts[i];
    account.Name.clear();
    account.Domain.clear();
    account.Use = SID_NAME_UNKNOWN;
    if (i >= named) continue;
    const lsa_TranslatedName& name = names->names[i];
    if (name.sid_type == SID_NAME_USE_NONE || name.sid_type == SID_NAME_UNKNOWN) continue;
    account.Use = static_cast<std::uint32_t>(name.sid_type);
    account.Name = Cp437Of(name.name.string);
    if (name.sid_index < known) account.Domain = Cp437Of(domains->domains[name.sid_index].name.string);
  }
}

}  // namespace quorvex::samba
