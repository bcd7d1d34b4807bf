#include "platform/posix/samba/host_admin.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/posix/samba/account_chains.h"
#include "platform/posix/samba/ndr.h"

extern "C" {
#include <core/ntstatus.h>
#include <core/werror.h>
#include <dcerpc.h>
#include <gen_ndr/lsa.h>
#include <gen_ndr/ndr_samr.h>
#include <gen_ndr/samr.h>
#include <gen_ndr/ndr_svcctl.h>
#include <gen_ndr/svcctl.h>
}

namespace quorvex::samba {
namespace {

struct Name {
  lsa_SidType Type;
  const char* Text;  // UTF-8, as Samba's unmarshalling leaves it; may be null
  std::uint32_t DomainIndex;
};

struct Want {
  std::string Domain;  // code page 437
  std::string Name;
  std::uint32_t Use;
};

// The domains every case refers to by index.
const char* const DomainNames[] = {"QVXHOST", "BUILTIN", nullptr};

TEST(LookupTranslation, WhatTheHostAnsweredBecomesAccounts) {
  const Want unknown{"", "", 8};
  const struct {
    const char* Case;
    std::vector<Name> Names;  // empty: a null names array
    bool Domains;
    std::size_t Accounts;
    std::vector<Want> Wanted;
  } cases[] = {
      {"each kind as it came",
       {{SID_NAME_USER, "root", 0}, {SID_NAME_ALIAS, "Administrators", 1}, {SID_NAME_WKN_GRP, "Everyone", 2}},
       true,
       3,
       {{"QVXHOST", "root", 1}, {"BUILTIN", "Administrators", 4}, {"", "Everyone", 5}}},
      {"untranslated: no names whatever the host put there",
       {{SID_NAME_UNKNOWN, "S-1-5-21-1-2-3-4", 0}, {SID_NAME_USE_NONE, "x", 1}},
       true,
       2,
       {unknown, unknown}},
      {"domain index out of range",
       {{SID_NAME_USER, "a", 3}, {SID_NAME_USER, "b", 0xffffffff}},
       true,
       2,
       {{"", "a", 1}, {"", "b", 1}}},
      {"no domain list", {{SID_NAME_DOM_GRP, "Domain Admins", 0}}, false, 1, {{"", "Domain Admins", 2}}},
      {"fewer names than SIDs", {{SID_NAME_USER, "root", 0}}, true, 3, {{"QVXHOST", "root", 1}, unknown, unknown}},
      {"no names at all", {}, true, 2, {unknown, unknown}},
      {"a null name", {{SID_NAME_USER, nullptr, 0}}, true, 1, {{"QVXHOST", "", 1}}},
      {"text outside ASCII in code page 437",
       {{SID_NAME_USER, "J\xC3\xBCrgen", 0}},
       true,
       1,
       {{"QVXHOST", "J\x81rgen", 1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Case);
    std::vector<lsa_DomainInfo> domainInfo(std::size(DomainNames));
    for (std::size_t i = 0; i < domainInfo.size(); ++i) domainInfo[i].name.string = DomainNames[i];
    lsa_RefDomainList domains{};
    domains.count = static_cast<std::uint32_t>(domainInfo.size());
    domains.domains = domainInfo.data();

    std::vector<lsa_TranslatedName> translated;
    for (const Name& n : c.Names) {
      lsa_TranslatedName t{};
      t.sid_type = n.Type;
      t.name.string = n.Text;
      t.sid_index = n.DomainIndex;
      translated.push_back(t);
    }
    lsa_TransNameArray names{};
    names.count = static_cast<std::uint32_t>(translated.size());
    names.names = translated.empty() ? nullptr : translated.data();

    // Whatever the accounts held before is replaced.
    std::vector<AccountInfo> accounts(c.Accounts, AccountInfo{"S-1-5-32-544", "stale", "STALE", 3});
    FillTranslations(c.Domains ? &domains : nullptr, &names, accounts.data(), accounts.size());
    ASSERT_EQ(accounts.size(), c.Wanted.size());
    for (std::size_t i = 0; i < accounts.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(accounts[i].Sid, "S-1-5-32-544");
      EXPECT_EQ(accounts[i].Domain, c.Wanted[i].Domain);
      EXPECT_EQ(accounts[i].Name, c.Wanted[i].Name);
      EXPECT_EQ(accounts[i].Use, c.Wanted[i].Use);
    }
  }
}

// A host that answers from a script, for what the calls decide from replies:
// every call goes to Answer, which fills the call's out part (or fails the
// transport); the handles it hands out are numbered.
class ScriptedPool : public SessionPool {
 public:
  std::function<bool(RpcInterface, std::uint16_t, void*)> Answer;
  std::optional<Bytes> TimeOfDay;  // the NetRemoteTOD reply; nullopt: the transport fails
  NegotiatedClock Negotiated;
  int RawCalls = 0;

  void Opened(policy_handle* handle) { handle->handle_type = next_++; }
  bool Fail(NTSTATUS status) {
    failure_ = {NT_STATUS_V(status), FailedStep::Call};
    return false;
  }

  std::optional<std::vector<std::uint8_t>> Call(const std::string&, RpcInterface, std::uint16_t,
                                                const std::vector<std::uint8_t>&, std::uint64_t,
                                                std::uint64_t*) override {
    ++RawCalls;
    if (!TimeOfDay) Fail(NT_STATUS_IO_TIMEOUT);
    return TimeOfDay;
  }
  bool Invoke(const std::string&, RpcInterface iface, std::uint16_t opnum, void* call, void*, std::uint64_t,
              std::uint64_t* usedSession) override {
    if (usedSession != nullptr) *usedSession = 1;
    return Answer(iface, opnum, call);
  }
  // A chain runs when it is waited for, request by request through Answer.
  std::map<RpcInterface, int> ChainsStarted;
  void StartChain(const std::string&, RpcInterface iface, std::unique_ptr<CallChain> chain) override {
    ++ChainsStarted[iface];
    chains_[iface] = std::move(chain);
  }
  std::unique_ptr<CallChain> FinishChain(const std::string&, RpcInterface iface) override {
    auto found = chains_.find(iface);
    if (found == chains_.end()) return nullptr;
    std::unique_ptr<CallChain> chain = std::move(found->second);
    chains_.erase(found);
    for (CallChain::Request r = chain->First(); r.Call != nullptr; r = chain->Answered()) {
      if (!Answer(iface, r.Opnum, r.Call)) {
        chain->Failed(failure_);
        break;
      }
    }
    return chain;
  }
  std::optional<NegotiatedClock> Clock(const std::string&) override { return Negotiated; }
  bool FileExists(const SharePath&) override { return false; }
  std::optional<DiskFreeSpace> FreeSpace(const SharePath&) override { return std::nullopt; }
  CallFailure LastFailure() const override { return failure_; }
  SmbConnectionFacts ConnectionFacts(const std::string&) override { return {}; }

 private:
  std::uint32_t next_ = 1;
  CallFailure failure_;
  std::map<RpcInterface, std::unique_ptr<CallChain>> chains_;
};

// An enumeration buffer of records of recordSize bytes (36 or 44), each
// service running and named twice, the strings after the records.
Bytes ServiceBufferOf(const std::vector<std::u16string>& names, std::size_t recordSize) {
  Bytes buffer(recordSize * names.size(), 0);
  for (std::size_t i = 0; i < names.size(); ++i) {
    for (std::size_t field = 0; field < 2; ++field) {
      std::uint32_t offset = static_cast<std::uint32_t>(buffer.size());
      for (int b = 0; b < 4; ++b) buffer[recordSize * i + 4 * field + b] = static_cast<std::uint8_t>(offset >> (8 * b));
      for (char16_t c : names[i] + u'\0') {
        buffer.push_back(static_cast<std::uint8_t>(c));
        buffer.push_back(static_cast<std::uint8_t>(c >> 8));
      }
    }
    buffer[recordSize * i + 12] = 4;
  }
  return buffer;
}

// One enumeration reply: the WERROR, the records that fit, what the host
// says it needs, and where the next request resumes.
struct Round {
  std::uint32_t Result;
  std::vector<std::u16string> Names;
  std::uint32_t Needed;
  std::uint32_t Resume;
};

// A service control manager with the given enumeration rounds, whose nth OpenServiceW, nth
// QueryServiceConfigW or QueryServiceStatus may fail with a WERROR or the
// transport's status.
struct ServiceHost {
  std::vector<Round> Rounds;
  std::uint16_t FailOpnum = 0xffff;
  int FailAt = 0;
  std::uint32_t FailWError = 0;
  NTSTATUS FailTransport = NT_STATUS_OK;
  std::vector<std::uint32_t> Offered;
  std::vector<std::uint32_t> Resumed;
  int Calls = 0;  // a close would be one more, and fails the test

  bool Answer(ScriptedPool& pool, std::uint16_t opnum, void* call) {
    ++Calls;
    if (opnum == FailOpnum && FailAt-- == 0) {
      if (!NT_STATUS_IS_OK(FailTransport)) return pool.Fail(FailTransport);
      return Result(opnum, call, W_ERROR(FailWError));
    }
    switch (opnum) {
      case NDR_SVCCTL_OPENSCMANAGERW: pool.Opened(static_cast<svcctl_OpenSCManagerW*>(call)->out.handle); break;
      case NDR_SVCCTL_OPENSERVICEW: pool.Opened(static_cast<svcctl_OpenServiceW*>(call)->out.handle); break;
      case NDR_SVCCTL_QUERYSERVICECONFIGW: {
        QUERY_SERVICE_CONFIG* config = static_cast<svcctl_QueryServiceConfigW*>(call)->out.query;
        config->start_type = SVCCTL_AUTO_START;
        config->startname = "OLDDOM\\svc-acct";
        break;
      }
      case NDR_SVCCTL_QUERYSERVICESTATUS:
        static_cast<svcctl_QueryServiceStatus*>(call)->out.service_status->state = SVCCTL_RUNNING;
        break;
      case NDR_SVCCTL_ENUMSERVICESSTATUSW: {
        auto& r = *static_cast<svcctl_EnumServicesStatusW*>(call);
        return Enumerate(r.in.offered, *r.in.resume_handle, r.out.service, *r.out.needed, *r.out.services_returned,
                         *r.out.resume_handle, r.out.result, 36);
      }
      default: ADD_FAILURE() << "opnum " << opnum; return false;
    }
    return Result(opnum, call, WERR_OK);
  }

  bool Enumerate(std::uint32_t offered, std::uint32_t resume, std::uint8_t* out, std::uint32_t& needed,
                 std::uint32_t& returned, std::uint32_t& resumeOut, WERROR& result, std::size_t recordSize) {
    Offered.push_back(offered);
    Resumed.push_back(resume);
    if (Rounds.empty()) return false;
    Round round = Rounds.front();
    if (Rounds.size() > 1) Rounds.erase(Rounds.begin());
    Bytes buffer = ServiceBufferOf(round.Names, recordSize);
    EXPECT_LE(buffer.size(), offered);
    std::copy(buffer.begin(), buffer.end(), out);
    needed = round.Needed;
    returned = static_cast<std::uint32_t>(round.Names.size());
    resumeOut = round.Resume;
    result = W_ERROR(round.Result);
    return true;
  }

  static bool Result(std::uint16_t opnum, void* call, WERROR result) {
    switch (opnum) {
      case NDR_SVCCTL_OPENSCMANAGERW: static_cast<svcctl_OpenSCManagerW*>(call)->out.result = result; break;
      case NDR_SVCCTL_OPENSERVICEW: static_cast<svcctl_OpenServiceW*>(call)->out.result = result; break;
      case NDR_SVCCTL_QUERYSERVICECONFIGW: static_cast<svcctl_QueryServiceConfigW*>(call)->out.result = result; break;
      case NDR_SVCCTL_QUERYSERVICESTATUS: static_cast<svcctl_QueryServiceStatus*>(call)->out.result = result; break;
      default: break;
    }
    return true;
  }
};

std::vector<std::string> NamesOf(const std::vector<ServiceInfo>& services) {
  std::vector<std::string> names;
  for (const ServiceInfo& s : services) names.push_back(s.Name);
  return names;
}

TEST(ServiceEnumeration, RoundsAsTheHostAnswersThem) {
  constexpr std::uint32_t MoreData = 234;
  const struct {
    const char* Case;
    std::vector<Round> Rounds;
    std::vector<std::uint32_t> Offered;
    std::vector<std::uint32_t> Resumed;
    std::uint32_t Status;
    std::vector<std::string> Names;
  } cases[] = {
      {"all at once", {{0, {u"Spooler", u"WINS"}, 0, 0}}, {0x1000}, {0}, 0, {"Spooler", "WINS"}},
      {"resumed where the host stopped, with room for what it needs",
       {{MoreData, {u"A"}, 0x8000, 7}, {0, {u"B"}, 0, 0}},
       {0x1000, 0x8000},
       {0, 7},
       0,
       {"A", "B"}},
      {"resumed, never offering less",
       {{MoreData, {u"A"}, 0x100, 7}, {0, {u"B"}, 0, 0}},
       {0x1000, 0x1000},
       {0, 7},
       0,
       {"A", "B"}},
      {"none fit: grows to what is needed",
       {{MoreData, {}, 0x12000, 0}, {0, {u"A"}, 0, 0}},
       {0x1000, 0x12000},
       {0, 0},
       0,
       {"A"}},
      {"no more than the largest offer", {{MoreData, {}, 0x90000, 0}}, {0x1000, 0x40000}, {0, 0}, MoreData, {}},
      {"more data without progress", {{MoreData, {}, 0x100, 0}}, {0x1000}, {0}, MoreData, {}},
      {"refused", {{5, {}, 0, 0}}, {0x1000}, {0}, 5, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Case);
    ScriptedPool pool;
    ServiceHost host;
    host.Rounds = c.Rounds;
    pool.Answer = [&](RpcInterface, std::uint16_t opnum, void* call) { return host.Answer(pool, opnum, call); };
    std::vector<ServiceInfo> services;
    CallStatus status = MakeHostAdmin([&] { return &pool; })->ListServices("\\\\HOST", services);
    EXPECT_EQ(status.Status, c.Status);
    EXPECT_EQ(status.Call, c.Status == 0 ? "" : "EnumServicesStatusExW");
    EXPECT_EQ(NamesOf(services), c.Names);
    EXPECT_EQ(host.Offered, c.Offered);
    EXPECT_EQ(host.Resumed, c.Resumed);
  }
}

// Every path answers with its status and no handle closed one by one: the
// handles go with the session, and a close each would cost a round trip a
// service on a Windows host.
TEST(ServiceQueries, EveryPathAnswersWithoutARoundTripAHandle) {
  const struct {
    const char* Case;
    bool One;  // QueryService of one service, else ListServices of two
    std::uint16_t FailOpnum;
    int FailAt;
    std::uint32_t WError;
    NTSTATUS Transport;
    std::uint32_t Status;
    const char* Call;
    int Calls;
  } cases[] = {
      {"listed", false, 0xffff, 0, 0, NT_STATUS_OK, 0, "", 6},
      {"the manager refused", false, NDR_SVCCTL_OPENSCMANAGERW, 0, 5, NT_STATUS_OK, 5, "OpenSCManagerW", 1},
      {"the second service refused", false, NDR_SVCCTL_OPENSERVICEW, 1, 5, NT_STATUS_OK, 5, "OpenServiceW", 5},
      {"its configuration refused", false, NDR_SVCCTL_QUERYSERVICECONFIGW, 1, 5, NT_STATUS_OK, 5,
       "QueryServiceConfigW", 6},
      {"the host gone quiet", false, NDR_SVCCTL_QUERYSERVICECONFIGW, 0, 0, NT_STATUS_IO_TIMEOUT, 121,
       "QueryServiceConfigW", 4},
      {"one service", true, 0xffff, 0, 0, NT_STATUS_OK, 0, "", 4},
      {"a service that does not exist", true, NDR_SVCCTL_OPENSERVICEW, 0, 1060, NT_STATUS_OK, 1060, "OpenServiceW",
       2},
      {"its status refused", true, NDR_SVCCTL_QUERYSERVICESTATUS, 0, 5, NT_STATUS_OK, 5, "QueryServiceStatus", 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Case);
    ScriptedPool pool;
    ServiceHost host;
    host.Rounds = {{0, {u"Spooler", u"WINS"}, 0, 0}};
    host.FailOpnum = c.FailOpnum;
    host.FailAt = c.FailAt;
    host.FailWError = c.WError;
    host.FailTransport = c.Transport;
    pool.Answer = [&](RpcInterface, std::uint16_t opnum, void* call) { return host.Answer(pool, opnum, call); };
    std::unique_ptr<HostAdminService> admin = MakeHostAdmin([&] { return &pool; });
    CallStatus status;
    if (c.One) {
      ServiceInfo service;
      status = admin->QueryService("\\\\HOST", "Spooler", service);
      if (status) {
        EXPECT_EQ(service.Name, "Spooler");
        EXPECT_EQ(service.Account, "OLDDOM\\svc-acct");
        EXPECT_EQ(service.StartType, 2u);
        EXPECT_EQ(service.State, 4u);
      }
    } else {
      std::vector<ServiceInfo> services;
      status = admin->ListServices("\\\\HOST", services);
      EXPECT_EQ(services.size(), status ? 2u : 0u);
      for (const ServiceInfo& s : services) EXPECT_EQ(s.Account, "OLDDOM\\svc-acct");
    }
    EXPECT_EQ(status.Status, c.Status);
    EXPECT_EQ(status.Call, c.Call);
    EXPECT_EQ(host.Calls, c.Calls);
  }
}

// A listing prepared while the checks go on answers the listing once; a
// query of one service waits for it and goes on its own. A prepared listing
// whose connection went under it (its session ended during the checks) is
// made again when asked for, as it would have been made then; one the host
// refused, or that ran out of time, is the answer.
TEST(ServiceQueries, APreparedListingIsTheListing) {
  const struct {
    const char* Case;
    bool QueryBetween;
    std::uint16_t FailOpnum;
    NTSTATUS Transport;
    std::uint32_t Status;
    int Calls;
    int Chains;
  } cases[] = {
      {"prepared, then listed", false, 0xffff, NT_STATUS_OK, 0, 6, 1},
      {"a query while it is pending", true, 0xffff, NT_STATUS_OK, 0, 10, 2},
      {"its session went: listed again", false, NDR_SVCCTL_OPENSCMANAGERW, NT_STATUS_CONNECTION_DISCONNECTED, 0, 7, 2},
      {"it ran out of time: the answer", false, NDR_SVCCTL_OPENSCMANAGERW, NT_STATUS_IO_TIMEOUT, 121, 1, 1},
      {"the host refused it", false, NDR_SVCCTL_OPENSCMANAGERW, NT_STATUS_OK, 5, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Case);
    ScriptedPool pool;
    ServiceHost host;
    host.Rounds = {{0, {u"Spooler", u"WINS"}, 0, 0}};
    host.FailOpnum = c.FailOpnum;
    host.FailWError = 5;
    host.FailTransport = c.Transport;
    pool.Answer = [&](RpcInterface, std::uint16_t opnum, void* call) { return host.Answer(pool, opnum, call); };
    std::unique_ptr<HostAdminService> admin = MakeHostAdmin([&] { return &pool; });
    admin->PrepareMoveFacts("\\\\HOST");
    if (c.QueryBetween) {
      ServiceInfo spooler;
      EXPECT_TRUE(admin->QueryService("\\\\HOST", "Spooler", spooler));
      EXPECT_EQ(spooler.State, 4u);
    }
    std::vector<ServiceInfo> services;
    CallStatus status = admin->ListServices("\\\\HOST", services);
    EXPECT_EQ(status.Status, c.Status);
    const std::vector<std::string> listed = {"Spooler", "WINS"};
    EXPECT_EQ(NamesOf(services), c.Status == 0 ? listed : std::vector<std::string>());
    EXPECT_EQ(host.Calls, c.Calls);
    EXPECT_EQ(pool.ChainsStarted[RpcInterface::ServiceControl], c.Chains);
  }
}

// The host's domains and its administrators' SIDs as the chains read the
// replies, prepared beside the checks or asked on their own alike.
TEST(AccountChains, WhatTheHostAnsweredOrRefused) {
  const NTSTATUS ok = NT_STATUS_OK;
  const struct {
    const char* Case;
    bool Prepared;
    std::uint16_t RefusedOpnum;  // of lsarpc or samr
    NTSTATUS Refusal;
    bool NullInfo;     // the account domain level answered without information
    bool NullMember;   // one member's SID pointer null
    std::uint32_t Domains;  // HostDomains' status
    std::string Dns;
    std::uint32_t Members;  // LocalAdministrators' status
    std::vector<std::string> Sids;
  } cases[] = {
      {"answered", false, 0xffff, ok, false, false, 0, "corp.example", 0, {"S-1-5-21-1-2-3-512", "S-1-5-32-545"}},
      {"answered, prepared", true, 0xffff, ok, false, false, 0, "corp.example", 0,
       {"S-1-5-21-1-2-3-512", "S-1-5-32-545"}},
      {"no DNS domain", false, 0x1007, NT_STATUS_INVALID_INFO_CLASS, false, false, 0, "", 0,
       {"S-1-5-21-1-2-3-512", "S-1-5-32-545"}},
      {"DNS level refused", true, 0x1007, NT_STATUS_ACCESS_DENIED, false, false, 5, "", 0,
       {"S-1-5-21-1-2-3-512", "S-1-5-32-545"}},
      {"policy refused", true, OpLsaOpenPolicy2, NT_STATUS_ACCESS_DENIED, false, false, 5, "", 5, {}},
      {"account level without information", false, 0xffff, ok, true, false, 13, "", 0,
       {"S-1-5-21-1-2-3-512", "S-1-5-32-545"}},
      {"alias refused", true, NDR_SAMR_OPENALIAS, NT_STATUS_ACCESS_DENIED, false, false, 0, "corp.example", 5, {}},
      {"a member without a SID is left out", false, 0xffff, ok, false, true, 0, "corp.example", 0,
       {"S-1-5-32-545"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Case);
    ScriptedPool pool;
    dom_sid account = *SidOf("S-1-5-21-1-2-3");
    std::vector<dom_sid> members = {*SidOf("S-1-5-21-1-2-3-512"), *SidOf("S-1-5-32-545")};
    std::vector<lsa_SidPtr> pointers = {{&members[0]}, {&members[1]}};
    if (c.NullMember) pointers[0].sid = nullptr;
    lsa_PolicyInformation accountInfo{};
    accountInfo.account_domain.sid = &account;
    lsa_PolicyInformation dnsInfo{};
    dnsInfo.dns.dns_domain.string = "corp.example";
    pool.Answer = [&](RpcInterface iface, std::uint16_t opnum, void* call) {
      // The DNS level is told apart from the account domain's by 0x1000.
      const bool dns = iface == RpcInterface::Policy && opnum == OpLsaQueryInfoPolicy &&
                       static_cast<lsa_QueryInfoPolicy*>(call)->in.level == LSA_POLICY_INFO_DNS;
      const bool refused = (dns ? opnum | 0x1000 : opnum) == c.RefusedOpnum;
      const NTSTATUS result = refused ? c.Refusal : NT_STATUS_OK;
      if (iface == RpcInterface::Policy && opnum == OpLsaOpenPolicy2) {
        auto& r = *static_cast<lsa_OpenPolicy2*>(call);
        pool.Opened(r.out.handle);
        r.out.result = result;
      } else if (iface == RpcInterface::Policy && opnum == OpLsaQueryInfoPolicy) {
        auto& r = *static_cast<lsa_QueryInfoPolicy*>(call);
        *r.out.info = refused || (!dns && c.NullInfo) ? nullptr : dns ? &dnsInfo : &accountInfo;
        r.out.result = result;
      } else if (iface == RpcInterface::Policy && opnum == OpLsaLookupSids) {
        static_cast<lsa_LookupSids*>(call)->out.result = NT_STATUS_NONE_MAPPED;
      } else if (iface == RpcInterface::Accounts && opnum == NDR_SAMR_GETMEMBERSINALIAS) {
        auto& r = *static_cast<samr_GetMembersInAlias*>(call);
        r.out.sids->num_sids = 2;
        r.out.sids->sids = pointers.data();
        r.out.result = result;
      } else if (iface == RpcInterface::Accounts) {
        auto* handle = opnum == NDR_SAMR_CONNECT2     ? static_cast<samr_Connect2*>(call)->out.connect_handle
                       : opnum == NDR_SAMR_OPENDOMAIN ? static_cast<samr_OpenDomain*>(call)->out.domain_handle
                                                      : static_cast<samr_OpenAlias*>(call)->out.alias_handle;
        pool.Opened(handle);
        if (opnum == NDR_SAMR_CONNECT2) static_cast<samr_Connect2*>(call)->out.result = result;
        if (opnum == NDR_SAMR_OPENDOMAIN) static_cast<samr_OpenDomain*>(call)->out.result = result;
        if (opnum == NDR_SAMR_OPENALIAS) static_cast<samr_OpenAlias*>(call)->out.result = result;
      } else {
        ADD_FAILURE() << "interface " << static_cast<int>(iface) << " opnum " << opnum;
        return false;
      }
      return true;
    };
    std::unique_ptr<HostAdminService> admin = MakeHostAdmin([&] { return &pool; });
    if (c.Prepared) admin->PrepareMoveFacts("\\\\HOST");
    std::string sid;
    std::string dnsDomain;
    const CallStatus domains = admin->HostDomains("\\\\HOST", sid, dnsDomain);
    EXPECT_EQ(domains.Status, c.Domains);
    EXPECT_EQ(domains.Call, c.Domains == 0 ? "" : "LsaQueryInformationPolicy");
    EXPECT_EQ(sid, c.Domains == 0 ? "S-1-5-21-1-2-3" : "");
    EXPECT_EQ(dnsDomain, c.Dns);
    std::vector<AccountInfo> admins;
    const CallStatus listed = admin->LocalAdministrators("\\\\HOST", admins);
    EXPECT_EQ(listed.Status, c.Members);
    std::vector<std::string> sids;
    for (const AccountInfo& a : admins) sids.push_back(a.Sid);
    EXPECT_EQ(sids, c.Sids);
    // A prepared chain is the answer, not made again.
    EXPECT_EQ(pool.ChainsStarted[RpcInterface::Policy], 1);
    EXPECT_EQ(pool.ChainsStarted[RpcInterface::Accounts], 1);
  }
}

TEST(RemoteClockTest, NegotiateTimeElseTimeOfDay) {
  // 2022-06-18 04:26:40 UTC in a NEGOTIATE response, and 1796687480 s in a
  // NetRemoteTOD reply.
  const Bytes tod = {0x00, 0x00, 0x02, 0x00, 0x78, 0x46, 0x17, 0x6b, 0x00, 0x00, 0x00, 0x00, 0x17, 0x00,
                     0x00, 0x00, 0x33, 0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                     0x00, 0x00, 0x00, 0x00, 0x10, 0x27, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x0c, 0x00,
                     0x00, 0x00, 0xea, 0x07, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  const struct {
    const char* Case;
    std::uint64_t FileTime;
    std::optional<Bytes> Reply;
    std::uint32_t Status;
    std::int64_t HostMs;
    int RawCalls;
  } cases[] = {
      {"from the NEGOTIATE response", 133000000000000000ULL, tod, 0, 1655526400000, 0},
      {"a response without a time", 0, tod, 0, 1796687480000, 1},
      {"NetRemoteTOD out of time", 0, std::nullopt, 121, 0, 1},
      {"NetRemoteTOD refused", 0, Bytes{0, 0, 0, 0, 5, 0, 0, 0}, 5, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Case);
    ScriptedPool pool;
    pool.Negotiated = {c.FileTime, 1234};
    pool.TimeOfDay = c.Reply;
    std::int64_t hostMs = 0;
    std::int64_t localMs = 0;
    CallStatus status = MakeHostAdmin([&] { return &pool; })->RemoteClock("\\\\HOST", hostMs, localMs);
    EXPECT_EQ(status.Status, c.Status);
    EXPECT_EQ(status.Call, c.Status == 0 ? "" : "NetRemoteTOD");
    EXPECT_EQ(hostMs, c.HostMs);
    EXPECT_EQ(pool.RawCalls, c.RawCalls);
    if (c.RawCalls == 0) {
      EXPECT_EQ(localMs, 1234);
    }
  }
}

}  // namespace
}  // namespace quorvex::samba
