#include "platform/posix/samba/host_admin.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>
#include <vector>

#include "core/encoding.h"
#include "platform/posix/samba/ndr.h"
#include "platform/posix/samba/samba_abi.h"
#include "platform/posix/samba/service_control.h"
#include "platform/posix/samba/smb_text.h"
#include "platform/posix/samba/win32_status.h"

extern "C" {
#include <core/ntstatus.h>
#include <core/werror.h>
#include <dcerpc.h>
#include <gen_ndr/lsa.h>
#include <gen_ndr/ndr_samr.h>
#include <gen_ndr/samr.h>
#include <gen_ndr/security.h>
}

namespace quorvex::samba {
namespace {

// The Win32 calls each seam call stands for, as CallStatus names them.
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

constexpr std::uint32_t AdministratorsRid = 0x220;
// What one LsaLookupSids request carries at most; the interface allows more,
// a host's reply for them all in one piece need not.
constexpr std::size_t LookupBatch = 1000;

std::int64_t WallClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

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
// session pool of its own, sweep workers included).
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

  void PrepareServiceListing(const std::string& uncServerName) override {
    std::optional<std::string> server = ServerNameOf(uncServerName);
    SessionPool* pool = pool_();
    if (server && pool != nullptr) pool->StartChain(*server, RpcInterface::ServiceControl, ServiceListing());
  }

  CallStatus ListServices(const std::string& uncServerName, std::vector<ServiceInfo>& services) override {
    services.clear();
    return RunServiceChain(uncServerName, ServiceListing(), services, true);
  }

  CallStatus QueryService(const std::string& uncServerName, const std::string& name, ServiceInfo& service) override {
    std::vector<ServiceInfo> found;
    if (CallStatus status = RunServiceChain(uncServerName, ServiceQuery(name), found, false); !status) return status;
    service = std::move(found.front());
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
      dns = Cp437OfUtf8(info->dns.dns_domain.string);
    } else if (!NT_STATUS_EQUAL(result, NT_STATUS_INVALID_INFO_CLASS)) {
      return {Win32StatusOfResult(NT_STATUS_V(result)), QueryPolicy};
    }
    accountDomainSid = std::move(sid);
    dnsDomain = std::move(dns);
    return {};
  }

 private:
  // Runs the chain to its end on the server's svcctl pipe. The listing
  // prepared earlier, waited for first (it holds the pipe), answers a
  // listing unless its session went before it ended: then the listing is
  // made again, as it would have been made now.
  CallStatus RunServiceChain(const std::string& uncServerName, std::unique_ptr<ServiceChain> chain,
                             std::vector<ServiceInfo>& services, bool listing) {
    std::optional<std::string> server = ServerNameOf(uncServerName);
    SessionPool* pool = pool_();
    if (!server || pool == nullptr) return {Win32::BadNetPath, "OpenSCManagerW"};
    if (std::unique_ptr<CallChain> prepared = pool->FinishChain(*server, RpcInterface::ServiceControl)) {
      prepared_ = {*server, std::unique_ptr<ServiceChain>(static_cast<ServiceChain*>(prepared.release()))};
    }
    std::unique_ptr<ServiceChain> ended;
    if (listing && prepared_.second && prepared_.first == *server && !prepared_.second->TransportFailed()) {
      ended = std::move(prepared_.second);
    } else {
      pool->StartChain(*server, RpcInterface::ServiceControl, std::move(chain));
      ended.reset(static_cast<ServiceChain*>(pool->FinishChain(*server, RpcInterface::ServiceControl).release()));
    }
    if (CallStatus status = ended->Status(); !status) return status;
    services = ended->TakeServices();
    return {};
  }

  std::function<SessionPool*()> pool_;
  std::pair<std::string, std::unique_ptr<ServiceChain>> prepared_;
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
    account.Name = Cp437OfUtf8(name.name.string);
    if (name.sid_index < known) account.Domain = Cp437OfUtf8(domains->domains[name.sid_index].name.string);
  }
}

}  // namespace quorvex::samba
