#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <limits>

#include "platform/win32/win32_backend.h"
#include "win32_test_support.h"

namespace quorvex::win32 {
namespace {

TEST(AdminWin32Test, TimeOfDayInMilliseconds) {
  struct Case {
    std::uint32_t seconds, hundredths;
    std::int64_t ms;
  } cases[] = {
      {0, 0, 0},
      {1765000000, 0, 1765000000000},
      {1765000000, 99, 1765000000990},
      {0x80000000u, 50, 2147483648500},  // 2038-01-19 03:14:08, past a signed 32-bit count
      {0xFFFFFFFFu, 0, 4294967295000},
  };
  for (const Case& c : cases) EXPECT_EQ(TimeOfDayMs(c.seconds, c.hundredths), c.ms) << c.seconds;
}

TEST(AdminWin32Test, LocalClockIsTheMiddleOfTheCall) {
  constexpr std::uint64_t epoch = 116444736000000000;  // 1970 in FILETIME units
  constexpr std::uint64_t perMs = 10000;
  constexpr std::uint64_t now = epoch + 1765000000000 * perMs;
  struct Case {
    std::uint64_t before, after;
    std::int64_t ms;
  } cases[] = {
      {epoch, epoch, 0},
      {now, now, 1765000000000},
      {now, now + 500 * perMs, 1765000000250},
      {now, now + 3 * perMs, 1765000000001},         // 1.5 ms in: a whole millisecond
      {now + 4 * perMs, now, 1765000000002},         // our clock stepped back during the call
      {now, now + 86400000 * perMs, 1765043200000},  // a day's call adds no overflow
  };
  for (const Case& c : cases) EXPECT_EQ(FileTimeMidpointMs(c.before, c.after), c.ms) << c.before << " " << c.after;
}

void ExpectAccount(const AccountInfo& got, const AccountInfo& want, const std::string& where) {
  EXPECT_EQ(got.Sid, want.Sid) << where;
  EXPECT_EQ(got.Domain, want.Domain) << where;
  EXPECT_EQ(got.Name, want.Name) << where;
  EXPECT_EQ(got.Use, want.Use) << where;
}

AccountInfo Account(std::string sid, std::string domain, std::string name, std::uint32_t use) {
  AccountInfo account;
  account.Sid = std::move(sid);
  account.Domain = std::move(domain);
  account.Name = std::move(name);
  account.Use = use;
  return account;
}

constexpr const char* kOrphan = "S-1-5-21-1000-2000-3000-1105";

TEST(AdminWin32Test, LocalGroupMemberRecords) {
  struct Case {
    std::string sid;
    std::uint32_t usage;
    std::string domainAndName;
    AccountInfo want;
  } cases[] = {
      {"S-1-5-21-1-2-3-500", 1, "PC042\\Administrator", Account("S-1-5-21-1-2-3-500", "PC042", "Administrator", 1)},
      {"S-1-5-21-9-8-7-512", 2, "CORP\\Domain Admins", Account("S-1-5-21-9-8-7-512", "CORP", "Domain Admins", 2)},
      {"S-1-5-21-9-8-7-1104", 9, "CORP\\PC042$", Account("S-1-5-21-9-8-7-1104", "CORP", "PC042$", 9)},
      {"S-1-5-18", 5, "NT AUTHORITY\\SYSTEM", Account("S-1-5-18", "NT AUTHORITY", "SYSTEM", 5)},
      {"S-1-1-0", 5, "Everyone", Account("S-1-1-0", "", "Everyone", 5)},  // no domain at all
      {"S-1-5-21-9-8-7-1110", 6, "CORP\\gone", Account("S-1-5-21-9-8-7-1110", "CORP", "gone", 6)},
      // The host could not translate these: what it put in the name is no name.
      {kOrphan, 8, kOrphan, Account(kOrphan, "", "", 8)},
      {kOrphan, 8, "", Account(kOrphan, "", "", 8)},
      {kOrphan, 7, "CORP\\x", Account(kOrphan, "", "", 8)},
      {kOrphan, 0, "CORP\\x", Account(kOrphan, "", "", 8)},
      {kOrphan, 12, "CORP\\x", Account(kOrphan, "", "", 8)},
  };
  for (const Case& c : cases) {
    ExpectAccount(MemberAccount(c.sid, c.usage, c.domainAndName), c.want, c.domainAndName + " " + c.sid);
  }
}

TEST(AdminWin32Test, LookedUpNamesAndTheirDomains) {
  const std::vector<std::string> domains = {"CORP", "", "BUILTIN"};
  struct Case {
    std::uint32_t use;
    std::string name;
    std::int32_t domainIndex;
    AccountInfo want;
  } cases[] = {
      {1, "alice", 0, Account(kOrphan, "CORP", "alice", 1)},
      {5, "Everyone", 1, Account(kOrphan, "", "Everyone", 5)},
      {4, "Administrators", 2, Account(kOrphan, "BUILTIN", "Administrators", 4)},
      {1, "alice", -1, Account(kOrphan, "", "alice", 1)},  // -1: no referenced domain
      {1, "alice", 3, Account(kOrphan, "", "alice", 1)},
      {1, "alice", std::numeric_limits<std::int32_t>::min(), Account(kOrphan, "", "alice", 1)},
      {8, kOrphan, 0, Account(kOrphan, "", "", 8)},  // an unmapped SID comes back as its own text
      {8, "", -1, Account(kOrphan, "", "", 8)},
  };
  for (const Case& c : cases) {
    ExpectAccount(LookedUpAccount(kOrphan, c.use, c.name, c.domainIndex, domains), c.want,
                  c.name + " at " + std::to_string(c.domainIndex));
  }
  ExpectAccount(LookedUpAccount(kOrphan, 1, "alice", 0, {}), Account(kOrphan, "", "alice", 1), "no domains");
}

TEST(AdminWin32Test, LookupStatusesThatAnswered) {
  struct Case {
    std::uint32_t status;
    bool answered;
  } cases[] = {
      {0x00000000, true},   // STATUS_SUCCESS
      {0x00000107, true},   // STATUS_SOME_NOT_MAPPED
      {0xC0000073, true},   // STATUS_NONE_MAPPED
      {0xC0000022, false},  // STATUS_ACCESS_DENIED
      {0xC000005E, false},  // STATUS_NO_LOGON_SERVERS
      {0xC000007E, false},  // STATUS_TOO_MANY_SIDS
      {0x80000005, false},  // STATUS_BUFFER_OVERFLOW: a warning, not an answer
      {0xC0000001, false},
  };
  for (const Case& c : cases) EXPECT_EQ(LookupAnswered(c.status), c.answered) << std::hex << c.status;
}

TEST(AdminWin32Test, ServiceFromItsRecords) {
  struct Case {
    ServiceRecords records;
    ServiceInfo want;
  } cases[] = {
      {{u"RemoteRegistry", u"Remote Registry", 1, 3, u"NT AUTHORITY\\LocalService"},
       {"RemoteRegistry", "Remote Registry", "NT AUTHORITY\\LocalService", 3, 1}},
      {{u"SQLAgent", u"SQL Server Agent", 4, 2, u"CORP\\svc-sql"},
       {"SQLAgent", "SQL Server Agent", "CORP\\svc-sql", 2, 4}},
      {{u"Spooler", u"Print Spooler", 7, 4, u"LocalSystem"}, {"Spooler", "Print Spooler", "LocalSystem", 4, 7}},
      {{nullptr, nullptr, 1, 0, nullptr}, {"", "", "", 0, 1}},
  };
  for (const Case& c : cases) {
    ServiceInfo got = ServiceOfRecords(c.records);
    EXPECT_EQ(got.Name, c.want.Name);
    EXPECT_EQ(got.DisplayName, c.want.DisplayName) << c.want.Name;
    EXPECT_EQ(got.Account, c.want.Account) << c.want.Name;
    EXPECT_EQ(got.StartType, c.want.StartType) << c.want.Name;
    EXPECT_EQ(got.State, c.want.State) << c.want.Name;
  }
}

TEST(AdminWin32Test, OnlyAServiceThatWentAwayIsLeftOut) {
  struct Case {
    std::uint32_t error;
    bool vanished;
  } cases[] = {
      {ERROR_SERVICE_DOES_NOT_EXIST, true}, {ERROR_SERVICE_MARKED_FOR_DELETE, true}, {ERROR_ACCESS_DENIED, false},
      {RPC_S_SERVER_UNAVAILABLE, false},    {ERROR_INSUFFICIENT_BUFFER, false},      {ERROR_INVALID_HANDLE, false},
  };
  for (const Case& c : cases) EXPECT_EQ(ServiceVanished(c.error), c.vanished) << c.error;
}

TEST(AdminWin32Test, PagesOfAListing) {
  constexpr std::uint32_t kMax = 256 * 1024;
  struct Case {
    ListingPage page;  // status, entries read, resumed, bytes needed, buffer bytes
    PageStep step;
  } cases[] = {
      {{0, 12, true, 0, 65536}, PageStep::Done},
      {{0, 0, false, 0, 65536}, PageStep::Done},  // nothing to list
      {{0, 3, false, 0, 0}, PageStep::Done},      // a last page need not move the handle
      {{ERROR_MORE_DATA, 300, true, 2000, 65536}, PageStep::Next},
      {{ERROR_MORE_DATA, 300, false, 2000, 65536}, PageStep::Fail},  // the same page again and again
      {{ERROR_MORE_DATA, 0, false, 70000, 65536}, PageStep::Grow},
      {{ERROR_MORE_DATA, 0, false, 300000, 65536}, PageStep::Grow},  // grown as far as the call allows
      {{ERROR_MORE_DATA, 0, false, 300000, kMax}, PageStep::Fail},
      {{ERROR_MORE_DATA, 0, true, 1000, 65536}, PageStep::Fail},  // more, yet nothing fits
      {{ERROR_MORE_DATA, 0, true, 0, 0}, PageStep::Fail},         // a network listing has no buffer to grow
      {{ERROR_ACCESS_DENIED, 0, false, 0, 65536}, PageStep::Fail},
      {{ERROR_INSUFFICIENT_BUFFER, 0, false, 70000, 65536}, PageStep::Fail},
  };
  for (const Case& c : cases) {
    const ListingPage& p = c.page;
    EXPECT_EQ(NextPageStep(p, kMax), c.step)
        << p.Status << " " << p.EntriesRead << " " << p.Resumed << " " << p.BytesNeeded << " " << p.BufferBytes;
  }
}

// --- The calls against this computer ----------------------------------------
// Wine runs its own service control manager and LSA, so these are real
// answers; every other host is out of a test's reach.

std::string LocalHost() { return "\\\\" + testing::ComputerName(); }

std::string Named(const CallStatus& status) { return std::string(status.Call) + " " + std::to_string(status.Status); }

// Wine's netapi32 has NetRemoteTOD as a stub that would end the process, so
// the backend does not call it there.
TEST(AdminWin32LocalTest, ClockOfThisComputer) {
  std::int64_t hostMs = -1, localMs = -1;
  CallStatus status = MakeHostAdminService()->RemoteClock(LocalHost(), hostMs, localMs);
  if (testing::RunningUnderWine()) {
    EXPECT_EQ(Named(status), "NetRemoteTOD 120");  // ERROR_CALL_NOT_IMPLEMENTED
    EXPECT_EQ(hostMs, -1);
    EXPECT_EQ(localMs, -1);
    return;
  }
  ASSERT_TRUE(status) << Named(status);
  EXPECT_LT(std::abs(hostMs - localMs), 2000);
}

TEST(AdminWin32LocalTest, ServicesOfThisComputer) {
  std::unique_ptr<HostAdminService> admin = MakeHostAdminService();
  std::vector<ServiceInfo> services;
  CallStatus listed = admin->ListServices(LocalHost(), services);
  ASSERT_TRUE(listed) << Named(listed);
  ASSERT_FALSE(services.empty());
  bool rpc = false;
  for (const ServiceInfo& s : services) {
    EXPECT_FALSE(s.Name.empty());
    EXPECT_LE(s.StartType, 4u) << s.Name;  // SERVICE_DISABLED
    EXPECT_GE(s.State, 1u) << s.Name;      // SERVICE_STOPPED .. SERVICE_PAUSED
    EXPECT_LE(s.State, 7u) << s.Name;
    EXPECT_FALSE(s.Account.empty()) << s.Name;  // every Win32 service logs on as someone
    if (s.Name == "RpcSs") {
      rpc = true;
      if (testing::RunningUnderWine()) {
        EXPECT_EQ(s.DisplayName, "Remote Procedure Call (RPC)");
        EXPECT_EQ(s.Account, "LocalSystem");
      }
    }
    // The single query reads the same configuration the listing did.
    ServiceInfo one;
    CallStatus queried = admin->QueryService(LocalHost(), s.Name, one);
    ASSERT_TRUE(queried) << s.Name << ": " << Named(queried);
    EXPECT_EQ(one.Name, s.Name);
    EXPECT_EQ(one.DisplayName, s.DisplayName);
    EXPECT_EQ(one.Account, s.Account);
    EXPECT_EQ(one.StartType, s.StartType);
  }
  EXPECT_TRUE(rpc);

  ServiceInfo untouched;
  untouched.Name = "before";
  CallStatus missing = admin->QueryService(LocalHost(), "QvxNoSuchService", untouched);
  EXPECT_EQ(Named(missing), "OpenServiceW 1060");  // ERROR_SERVICE_DOES_NOT_EXIST
  EXPECT_EQ(untouched.Name, "before");
}

TEST(AdminWin32LocalTest, AdministratorsOfThisComputer) {
  std::vector<AccountInfo> members;
  CallStatus status = MakeHostAdminService()->LocalAdministrators(LocalHost(), members);
  ASSERT_TRUE(status) << Named(status);
  if (testing::RunningUnderWine()) {
    // Wine finds the group by its SID but lists no member of any group.
    EXPECT_TRUE(members.empty());
    return;
  }
  ASSERT_FALSE(members.empty());
  for (const AccountInfo& m : members) {
    EXPECT_EQ(m.Sid.rfind("S-1-", 0), 0u) << m.Sid;
    EXPECT_NE(m.Use, 0u) << m.Sid;
  }
}

// More SIDs than one lookup takes, mixed with SIDs the host does not know and
// texts that are no SID: each answer must land on its own account.
TEST(AdminWin32LocalTest, SidsOfThisComputer) {
  struct Kind {
    std::string sid;  // "" for a SID of its own
    AccountInfo want;
  } kinds[] = {
      {"S-1-5-32-544", Account("", "BUILTIN", "Administrators", 4)},
      {"", Account("", "", "", 8)},  // unknown to the host
      {"S-1-1-0", Account("", "", "Everyone", 5)},
      {"not-a-sid-", Account("", "", "", 8)},
      {"S-1-5-18", Account("", "NT AUTHORITY", "SYSTEM", 5)},
  };
  constexpr std::size_t kCount = 2503;
  std::vector<AccountInfo> accounts;
  for (std::size_t i = 0; i < kCount; ++i) {
    const Kind& kind = kinds[i % std::size(kinds)];
    std::string sid = kind.sid.empty()         ? "S-1-5-21-1000-2000-3000-" + std::to_string(1000 + i)
                      : kind.sid.back() == '-' ? kind.sid + std::to_string(i)
                                               : kind.sid;
    accounts.push_back(Account(sid, "stale", "stale", 0));
  }
  CallStatus status = MakeHostAdminService()->LookupSids(LocalHost(), accounts);
  ASSERT_TRUE(status) << Named(status);
  ASSERT_EQ(accounts.size(), kCount);
  for (std::size_t i = 0; i < kCount; ++i) {
    const Kind& kind = kinds[i % std::size(kinds)];
    const AccountInfo& got = accounts[i];
    EXPECT_EQ(got.Use, kind.want.Use) << i << " " << got.Sid;
    if (testing::RunningUnderWine() || kind.want.Use == 8) {  // Windows names them in its own language
      EXPECT_EQ(got.Domain, kind.want.Domain) << i << " " << got.Sid;
      EXPECT_EQ(got.Name, kind.want.Name) << i << " " << got.Sid;
    }
  }
  EXPECT_EQ(accounts[1].Sid, "S-1-5-21-1000-2000-3000-1001");
  EXPECT_EQ(accounts[3].Sid, "not-a-sid-3");
}

TEST(AdminWin32LocalTest, DomainsOfThisComputer) {
  std::string sid, dns = "before";
  CallStatus status = MakeHostAdminService()->HostDomains(LocalHost(), sid, dns);
  ASSERT_TRUE(status) << Named(status);
  if (testing::RunningUnderWine()) {  // a fixed machine SID, and no domain joined
    EXPECT_EQ(sid, "S-1-5-21-0-0-0");
    EXPECT_EQ(dns, "");
    return;
  }
  EXPECT_EQ(sid.rfind("S-1-5-21-", 0), 0u) << sid;
}

// One row a call: the host it names, and how a failure must read. Outputs
// stay as they were when the call fails.
struct Outcome {
  CallStatus clock, services, service, members, lookup, domains;
};

// The service calls take a third of a second under Wine; a leak test may
// leave them out of most of its rounds.
Outcome CallEach(const std::string& host, bool services = true) {
  std::unique_ptr<HostAdminService> admin = MakeHostAdminService();
  Outcome o;
  std::int64_t hostMs = -1, localMs = -1;
  o.clock = admin->RemoteClock(host, hostMs, localMs);
  if (!o.clock) {
    EXPECT_EQ(hostMs + localMs, -2) << host;
  }
  if (services) {
    std::vector<ServiceInfo> listed(1);
    o.services = admin->ListServices(host, listed);
    if (!o.services) {
      EXPECT_EQ(listed.size(), 1u) << host;
    }
    ServiceInfo service;
    service.Name = "before";
    o.service = admin->QueryService(host, "RpcSs", service);
    if (!o.service) {
      EXPECT_EQ(service.Name, "before") << host;
    }
  }
  std::vector<AccountInfo> members(1);
  o.members = admin->LocalAdministrators(host, members);
  if (!o.members) {
    EXPECT_EQ(members.size(), 1u) << host;
  }
  std::vector<AccountInfo> accounts = {Account("S-1-5-32-544", "before", "before", 0)};
  o.lookup = admin->LookupSids(host, accounts);
  if (!o.lookup) {
    EXPECT_EQ(accounts[0].Name + accounts[0].Domain, "beforebefore") << host;
  }
  std::string sid = "before", dns = "before";
  o.domains = admin->HostDomains(host, sid, dns);
  if (!o.domains) {
    EXPECT_EQ(sid + dns, "beforebefore") << host;
  }
  return o;
}

// The API reads an empty server name as this computer; a name that did not
// survive conversion must not answer for the wrong machine.
TEST(AdminWin32LocalTest, EmptyServerNameIsNotTheLocalComputer) {
  Outcome o = CallEach("");
  EXPECT_EQ(Named(o.clock), "NetRemoteTOD 123");  // ERROR_INVALID_NAME
  EXPECT_EQ(Named(o.services), "OpenSCManagerW 123");
  EXPECT_EQ(Named(o.service), "OpenSCManagerW 123");
  EXPECT_EQ(Named(o.members), "LookupAccountSidW 123");
  EXPECT_EQ(Named(o.lookup), "LsaOpenPolicy 123");
  EXPECT_EQ(Named(o.domains), "LsaOpenPolicy 123");
}

// Under Wine another computer's name reaches no network: its LSA and account
// lookups refuse it at once. Its service manager takes no computer name at
// all and answers for this one, so the service calls are not asked here.
// On Windows the name would be looked up on the network.
TEST(AdminWin32LocalTest, AnotherComputerFailsWithTheCallNamed) {
  if (!testing::RunningUnderWine()) GTEST_SKIP() << "would reach the network";
  Outcome o = CallEach("\\\\QVXNOHOST");
  EXPECT_EQ(Named(o.clock), "NetRemoteTOD 120");
  EXPECT_EQ(Named(o.members), "LookupAccountSidW 1722");  // RPC_S_SERVER_UNAVAILABLE
  EXPECT_EQ(Named(o.lookup), "LsaOpenPolicy 998");        // STATUS_ACCESS_VIOLATION, as Wine refuses it
  EXPECT_EQ(Named(o.domains), "LsaOpenPolicy 998");
}

// Bytes held in all the process's heaps, where the system's calls take what
// they hand out (NetApiBufferAllocate, the LSA's buffers, LocalAlloc) and
// where Wine keeps its service manager handles.
std::size_t HeapBytesInUse() {
  HANDLE heaps[256];
  const DWORD count = std::min<DWORD>(GetProcessHeaps(256, heaps), 256);
  std::size_t total = 0;
  for (DWORD i = 0; i < count; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
    }
    HeapUnlock(heaps[i]);
  }
  return total;
}

// Whatever a call takes from the system, it gives back on every path: the
// answered calls, the failed ones and the refused names alike. The first
// rounds load libraries and bind RPC for good, so they are not counted. The
// heap keeps small blocks in groups that a few leaked blocks do not outgrow,
// so the quick calls are repeated far more often than the slow ones.
TEST(AdminWin32LocalTest, RepeatedCallsGiveBackWhatTheyTake) {
  std::vector<std::string> hosts = {LocalHost(), ""};
  if (testing::RunningUnderWine()) hosts.push_back("\\\\QVXNOHOST");  // no network under Wine
  auto round = [&](bool services) {
    for (const std::string& host : hosts) CallEach(host, services);
  };
  round(true);
  round(true);
  const std::size_t before = HeapBytesInUse();
  constexpr int kServiceRounds = 4, kQuickRounds = 200;
  for (int i = 0; i < kServiceRounds; ++i) round(true);
  for (int i = 0; i < kQuickRounds; ++i) round(false);
  const std::size_t after = HeapBytesInUse();
  EXPECT_LT(after, before + 1024) << before << " -> " << after;
}

}  // namespace
}  // namespace quorvex::win32
