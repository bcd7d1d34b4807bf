#include "platform/posix/samba/host_admin.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "core/encoding.h"
#include "platform/posix/samba/account_chains.h"
#include "platform/posix/samba/ndr.h"
#include "platform/posix/samba/samba_abi.h"
#include "platform/posix/samba/service_control.h"
#include "platform/posix/samba/smb_text.h"
#include "platform/posix/samba/win32_status.h"

extern "C" {
#include <core/ntstatus.h>
#include <dcerpc.h>
#include <gen_ndr/lsa.h>
#include <gen_ndr/security.h>
}

namespace quorvex::samba {
namespace {

// The Win32 calls each seam call stands for, as CallStatus names them.
constexpr const char* LocalGroupMembers = "NetLocalGroupGetMembers";
constexpr const char* LookupSidsCall = "LsaLookupSids";
constexpr const char* RemoteTod = "NetRemoteTOD";

using Win32::BadNetPath;
using Win32::InvalidData;
using Win32::InvalidSid;
using Win32::RpcServerUnavailable;

// What one LsaLookupSids request carries at most; the interface allows more,
// a host's reply for them all in one piece need not.
constexpr std::size_t LookupBatch = 1000;

std::int64_t WallClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
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
  lsa_QosInfo qos{};
  lsa_ObjectAttribute attributes{};
  policy_handle out{};
  lsa_OpenPolicy2 r{};
  FillOpenPolicy(r, attributes, qos, access, &out);
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

  // The services, the host's domains and its administrators' SIDs, each a
  // chain on its own pipe, go on beside the checks; the calls below take
  // what they found.
  void PrepareMoveFacts(const std::string& uncServerName) override {
    std::optional<std::string> server = ServerNameOf(uncServerName);
    SessionPool* pool = pool_();
    if (!server || pool == nullptr) return;
    pool->StartChain(*server, RpcInterface::ServiceControl, ServiceListing());
    pool->StartChain(*server, RpcInterface::Policy, HostDomainsQuery());
    pool->StartChain(*server, RpcInterface::Accounts, AdministratorSidsQuery());
  }

  CallStatus ListServices(const std::string& uncServerName, std::vector<ServiceInfo>& services) override {
    services.clear();
    std::unique_ptr<ServiceChain> listing = RunChain(uncServerName, RpcInterface::ServiceControl, ServiceListing());
    if (CallStatus status = listing->Status(); !status) return status;
    services = listing->TakeServices();
    return {};
  }

  CallStatus QueryService(const std::string& uncServerName, const std::string& name, ServiceInfo& service) override {
    std::unique_ptr<ServiceChain> query =
        RunChain(uncServerName, RpcInterface::ServiceControl, ServiceQuery(name), false);
    if (CallStatus status = query->Status(); !status) return status;
    service = query->TakeServices().front();
    return {};
  }

  CallStatus LocalAdministrators(const std::string& uncServerName, std::vector<AccountInfo>& members) override {
    members.clear();
    std::optional<std::string> server = ServerNameOf(uncServerName);
    SessionPool* pool = pool_();
    if (!server || pool == nullptr) return {BadNetPath, LocalGroupMembers};
    std::unique_ptr<MembersChain> sids = RunChain(uncServerName, RpcInterface::Accounts, AdministratorSidsQuery());
    if (CallStatus listed = sids->Status(); !listed) return listed;
    Settle(*pool, *server, RpcInterface::Policy);
    HostCalls calls(*pool, *server);
    if (CallStatus named = Translate(calls, sids->Members, LocalGroupMembers); !named) return named;
    members = std::move(sids->Members);
    return {};
  }

  CallStatus LookupSids(const std::string& uncServerName, std::vector<AccountInfo>& accounts) override {
    std::optional<std::string> server = ServerNameOf(uncServerName);
    SessionPool* pool = pool_();
    if (!server || pool == nullptr) return {BadNetPath, LookupSidsCall};
    Settle(*pool, *server, RpcInterface::Policy);
    HostCalls calls(*pool, *server);
    std::vector<AccountInfo> translated = accounts;
    if (CallStatus named = Translate(calls, translated, LookupSidsCall); !named) return named;
    accounts = std::move(translated);
    return {};
  }

  CallStatus HostDomains(const std::string& uncServerName, std::string& accountDomainSid,
                         std::string& dnsDomain) override {
    std::unique_ptr<DomainsChain> domains = RunChain(uncServerName, RpcInterface::Policy, HostDomainsQuery());
    if (CallStatus status = domains->Status(); !status) return status;
    accountDomainSid = std::move(domains->AccountDomainSid);
    dnsDomain = std::move(domains->DnsDomain);
    return {};
  }

 private:
  // The chain's answer: the one prepared for this server and interface
  // when `prepared` allows, else `fresh` run to its end now. A prepared
  // chain whose connection went under it (a check's call that failed may
  // have ended the session) is made again, as it would have been made now;
  // one that ran out of time is the answer. A server name that cannot be
  // used fails `fresh` as a host out of reach.
  template <typename Chain>
  std::unique_ptr<Chain> RunChain(const std::string& uncServerName, RpcInterface iface, std::unique_ptr<Chain> fresh,
                                  bool prepared = true) {
    std::optional<std::string> server = ServerNameOf(uncServerName);
    SessionPool* pool = pool_();
    if (!server || pool == nullptr) {
      fresh->Failed({0, FailedStep::Connect});
      return fresh;
    }
    Settle(*pool, *server, iface);
    auto kept = prepared_.find({*server, iface});
    if (prepared && kept != prepared_.end() && !kept->second->ConnectionLost()) {
      if (dynamic_cast<Chain*>(kept->second.get()) != nullptr) {
        std::unique_ptr<Chain> answer(static_cast<Chain*>(kept->second.release()));
        prepared_.erase(kept);
        return answer;
      }
    }
    pool->StartChain(*server, iface, std::move(fresh));
    return std::unique_ptr<Chain>(static_cast<Chain*>(pool->FinishChain(*server, iface).release()));
  }

  // Waits for the chain prepared on the interface's pipe, if one is under
  // way, and keeps it: a call on that pipe then goes alone.
  void Settle(SessionPool& pool, const std::string& server, RpcInterface iface) {
    if (std::unique_ptr<CallChain> ended = pool.FinishChain(server, iface)) {
      prepared_[{server, iface}].reset(static_cast<HostChain*>(ended.release()));
    }
  }

  std::function<SessionPool*()> pool_;
  std::map<std::pair<std::string, RpcInterface>, std::unique_ptr<HostChain>> prepared_;
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
