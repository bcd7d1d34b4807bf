#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "netinfo/identity_checks.h"
#include "netinfo/net_queries.h"
#include "netinfo/server_report.h"

namespace quorvex {
namespace {

using Script = std::function<void(FakePlatform&)>;
const Script Unchanged = [](FakePlatform&) {};

const HostIdentity ByName{"PC042.SALES.LAN", "PC042", "192.168.10.42", "192.168.10.42", false};
const HostIdentity ByShortName{"PC042", "PC042", "192.168.10.42", "192.168.10.42", false};
const HostIdentity ByAddress{"PC042.SALES.LAN", "PC042", "192.168.010.042", "192.168.10.42", true};

struct QueryCase {
  const char* Name;
  HostIdentity Identity;
  bool Retry;    // /R
  bool Verbose;  // /V
  Script Setup;
  std::string Output;
  bool EndsRun;
  std::vector<std::string> WorkstationServers;
  std::vector<std::string> ServerServers;
  std::string UncServerName;
  bool HoldsWorkstation;
  bool HoldsServer;
};

TEST(NetQueriesTest, EachQueryIsRetriedOnceUnderTheRightName) {
  const auto failFirstWorkstation = [](FakePlatform& f) { f.WorkstationStatuses = {53, 0}; };
  // clang-format off
  const QueryCase cases[] = {
      {"both succeed", ByName, false, true, Unchanged, "", false, {"\\\\PC042"}, {"\\\\PC042"},
       "\\\\PC042", true, true},
      {"retry under the same name", ByName, false, true, failFirstWorkstation,
       " ! Retrying NetWkstaGetInfo call...\r\n", false, {"\\\\PC042", "\\\\PC042"}, {"\\\\PC042"},
       "\\\\PC042", true, true},
      {"retry is silent without /V", ByName, true, false, failFirstWorkstation, "", false,
       {"\\\\PC042", "\\\\PC042.SALES.LAN"}, {"\\\\PC042.SALES.LAN"}, "\\\\PC042.SALES.LAN", true,
       true},
      {"/R retries a dotted name in full", ByName, true, true, failFirstWorkstation,
       " ! Retrying NetWkstaGetInfo call with: PC042.SALES.LAN\r\n", false,
       {"\\\\PC042", "\\\\PC042.SALES.LAN"}, {"\\\\PC042.SALES.LAN"}, "\\\\PC042.SALES.LAN", true,
       true},
      {"/R with a short name goes to the same server", ByShortName, true, true, failFirstWorkstation,
       " ! Retrying NetWkstaGetInfo call with: PC042\r\n", false, {"\\\\PC042", "\\\\PC042"},
       {"\\\\PC042"}, "\\\\PC042", true, true},
      {"/R with an address uses its normal form", ByAddress, true, true, failFirstWorkstation,
       " ! Retrying NetWkstaGetInfo call with IP Address: 192.168.010.042\r\n", false,
       {"\\\\PC042", "\\\\192.168.10.42"}, {"\\\\192.168.10.42"}, "\\\\192.168.10.42", true, true},
      {"workstation fails twice", ByAddress, true, true,
       [](FakePlatform& f) { f.WorkstationStatuses = {53, 5}; },
       " ! Retrying NetWkstaGetInfo call with IP Address: 192.168.010.042\r\n"
       " - Can not access. NetWkstaGetInfo call failed.\r\n",
       true, {"\\\\PC042", "\\\\192.168.10.42"}, {}, "\\\\192.168.10.42", false, false},
      {"server retried under the name that worked", ByName, true, true,
       [](FakePlatform& f) {
         f.WorkstationStatuses = {53, 0};
         f.ServerStatuses = {5, 0};
       },
       " ! Retrying NetWkstaGetInfo call with: PC042.SALES.LAN\r\n"
       " ! Retrying NetServerGetInfo call...\r\n",
       false, {"\\\\PC042", "\\\\PC042.SALES.LAN"}, {"\\\\PC042.SALES.LAN", "\\\\PC042.SALES.LAN"},
       "\\\\PC042.SALES.LAN", true, true},
      {"server fails twice and the workstation record is kept", ByName, false, false,
       [](FakePlatform& f) { f.ServerStatuses = {5, 5}; },
       " - Can not access. NetServerGetInfo call failed.\r\n", true, {"\\\\PC042"},
       {"\\\\PC042", "\\\\PC042"}, "\\\\PC042", true, false},
  };
  // clang-format on
  for (const QueryCase& c : cases) {
    for (const bool leaves : {false, true}) {
      SCOPED_TRACE(std::string(c.Name) + (leaves ? ", failed calls leave records" : ""));
      FakeStage s;
      c.Setup(s.Fake);
      s.Fake.FailedCallLeavesRecord = leaves;
      RunSettings settings;
      settings.RetryAlternateName = c.Retry;
      settings.Verbose = c.Verbose;
      NetInfoRecords records;
      std::string uncServerName;
      const Verdict verdict = QueryNetInfo(s.Env, settings, c.Identity, records, uncServerName);
      EXPECT_EQ(s.Fake.Output, c.Output);
      EXPECT_EQ(verdict.EndsRun, c.EndsRun);
      EXPECT_EQ(verdict.Code, c.EndsRun ? 2 : 0);
      EXPECT_EQ(s.Fake.Titles, std::vector<std::string>{"PC042: Checking NetBIOS name..."});
      EXPECT_EQ(s.Fake.WorkstationServerNames, c.WorkstationServers);
      EXPECT_EQ(s.Fake.ServerServerNames, c.ServerServers);
      EXPECT_EQ(uncServerName, c.UncServerName);
      EXPECT_EQ(records.Workstation != nullptr, c.HoldsWorkstation);
      EXPECT_EQ(records.Server != nullptr, c.HoldsServer);
      // The fake orphans a record whose pointer is overwritten unfreed, so a
      // missing release before a retry shows up as unbalanced here.
      records.Release();
      EXPECT_EQ(s.Fake.Unreleased(), "");
    }
  }
}

TEST(NetQueriesTest, ARecordLeftByAFailedCallIsFreedBeforeTheRetry) {
  FakeStage s;
  s.Fake.FailedCallLeavesRecord = true;
  s.Fake.WorkstationStatuses = {53, 0};
  s.Fake.ServerStatuses = {5, 0};
  NetInfoRecords records;
  std::string uncServerName;
  ASSERT_FALSE(QueryNetInfo(s.Env, RunSettings{}, ByName, records, uncServerName).EndsRun);
  EXPECT_EQ(s.Fake.Calls,
            (std::vector<std::string>{"NetWkstaGetInfo \\\\PC042", "NetApiBufferFree", "NetWkstaGetInfo \\\\PC042",
                                      "NetServerGetInfo \\\\PC042", "NetApiBufferFree", "NetServerGetInfo \\\\PC042"}));
  records.Release();
  EXPECT_EQ(s.Fake.Unreleased(), "");
}

TEST(NetQueriesTest, ReleaseFreesWorkstationThenServerOnce) {
  FakeStage s;
  NetInfoRecords records;
  std::string uncServerName;
  ASSERT_FALSE(QueryNetInfo(s.Env, RunSettings{}, ByName, records, uncServerName).EndsRun);
  records.Release();
  records.Release();
  EXPECT_EQ(s.Fake.Releases, (std::vector<std::string>{"workstation record", "server record"}));
  EXPECT_EQ(s.Fake.Unreleased(), "");
}

TEST(NetQueriesTest, WideToAnsiStopsAtTheFirstZeroUnit) {
  FakePlatform fake;
  NetManagementService& net = fake.Services().Net;
  // clang-format off
  const struct {
    const char16_t* Text;
    std::string Ansi;
  } cases[] = {
      {nullptr, ""},
      {u"", ""},
      {u"Pc042 ", "Pc042 "},
      {u"A\u00e9B", "A\xe9" "B"},
      {u"x\u4e2dy", "x?y"},
      {u"AB\0CD", "AB"},
  };
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(WideToAnsi(net, c.Text), c.Ansi);
  EXPECT_EQ(fake.Unreleased(), "");
}

struct CheckCase {
  const char* Name;
  HostIdentity Identity;
  RunSettings Settings;
  std::u16string Reported;  // computer name or domain, as the host sends it
  std::string Output;
  int Code;  // 0 goes on
};

RunSettings With(std::function<void(RunSettings&)> change) {
  RunSettings settings;
  change(settings);
  return settings;
}

TEST(IdentityChecksTest, NetBiosName) {
  const RunSettings plain;
  const RunSettings ignore = With([](RunSettings& r) { r.IgnoreNameMismatch = true; });
  const RunSettings ignoreVerbose = With([](RunSettings& r) {
    r.IgnoreNameMismatch = true;
    r.Verbose = true;
  });
  // clang-format off
  const CheckCase cases[] = {
      {"matches the NetBIOS part", ByName, plain, u"PC042", " + NetBIOS name matches.\r\n", 0},
      {"lower case and spaces still match", ByName, plain, u"  pc042 ", " + NetBIOS name matches.\r\n",
       0},
      {"matches the full name", ByName, plain, u"pc042.sales.lan", " + NetBIOS name matches.\r\n", 0},
      {"a tab is not trimmed", ByName, plain, u"PC042\t",
       " - NetBIOS name does NOT match. Returned: PC042?\r\n", 4},
      {"mismatch", ByAddress, plain, u"srv1", " - NetBIOS name does NOT match. Returned: SRV1\r\n", 4},
      {"an empty name mismatches", ByName, plain, u"", " - NetBIOS name does NOT match. Returned: \r\n",
       4},
      {"control bytes are not printed", ByName, plain, u"PC\u001b[2J",
       " - NetBIOS name does NOT match. Returned: PC?[2J\r\n", 4},
      {"/I is silent without /V", ByName, ignore, u"SRV1", "", 0},
      {"/I /V compares with the full name only", ByName, ignoreVerbose, u"PC042",
       " ! NetBIOS name does not match. Returned: PC042\r\n", 0},
      {"/I /V full name", ByName, ignoreVerbose, u"pc042.sales.lan", " ! NetBIOS name matches.\r\n", 0},
      {"/I /V prints a hostile name safely", ByName, ignoreVerbose, u"X\u0007\u007f",
       " ! NetBIOS name does not match. Returned: X??\r\n", 0},
  };
  // clang-format on
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeStage s;
    s.Fake.ComputerName = c.Reported;
    NetInfoRecords records;
    std::string unc;
    ASSERT_FALSE(QueryNetInfo(s.Env, c.Settings, c.Identity, records, unc).EndsRun);
    const Verdict verdict = CheckNetBiosName(s.Env, c.Settings, c.Identity, records);
    EXPECT_EQ(s.Fake.Output, c.Output);
    EXPECT_EQ(verdict.EndsRun, c.Code != 0);
    EXPECT_EQ(verdict.Code, c.Code);
    records.Release();
    EXPECT_EQ(s.Fake.Unreleased(), "");
  }
}

TEST(IdentityChecksTest, Domain) {
  const auto current = [](const char* domain) { return With([=](RunSettings& r) { r.CurrentDomain = domain; }); };
  const auto target = [](const char* domain) { return With([=](RunSettings& r) { r.TargetDomain = domain; }); };
  // clang-format off
  const CheckCase cases[] = {
      {"no /C and no /T reports the domain", ByName, RunSettings{}, u"Sales ",
       " + Host in domain: SALES\r\n", 0},
      {"expected domain", ByName, current("SALES"), u"sales", " + Host in domain: SALES\r\n", 0},
      {"other domain", ByName, current("CORP"), u"SALES",
       " - Host is in the SALES domain (NOT CORP as expected).\r\n", 8},
      {"already migrated", ByName, target("SALES"), u"SALES",
       " - Host is already in the SALES domain.\r\n", 8},
      {"already migrated wins over /C", ByName,
       With([](RunSettings& r) {
         r.CurrentDomain = "OLD";
         r.TargetDomain = "SALES";
       }),
       u"SALES", " - Host is already in the SALES domain.\r\n", 8},
      {"not yet migrated", ByName, target("CORP"), u"SALES", " + Host in domain: SALES\r\n", 0},
      {"only fifteen characters are compared", ByName, current("ABCDEFGHIJKLMNO"),
       u"abcdefghijklmnopq", " + Host in domain: ABCDEFGHIJKLMNOPQ\r\n", 0},
      {"a long domain is shown whole when it differs", ByName, current("CORP"), u"ABCDEFGHIJKLMNOPQ",
       " - Host is in the ABCDEFGHIJKLMNOPQ domain (NOT CORP as expected).\r\n", 8},
      {"sixteen characters do not equal fifteen", ByName, current("ABCDEFGHIJKLMN"),
       u"ABCDEFGHIJKLMNO", " - Host is in the ABCDEFGHIJKLMNO domain (NOT ABCDEFGHIJKLMN as expected).\r\n",
       8},
      {"a hostile domain is printed safely", ByName, current("CORP"), u"EV\u001bIL",
       " - Host is in the EV?IL domain (NOT CORP as expected).\r\n", 8},
      {"compared as received, printed safely", ByName, current("SA\nLES"), u"sa\nles",
       " + Host in domain: SA?LES\r\n", 0},
  };
  // clang-format on
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeStage s;
    s.Fake.LanGroup = c.Reported;
    NetInfoRecords records;
    std::string unc;
    ASSERT_FALSE(QueryNetInfo(s.Env, c.Settings, c.Identity, records, unc).EndsRun);
    const Verdict verdict = CheckDomain(s.Env, c.Settings, c.Identity, records);
    EXPECT_EQ(s.Fake.Output, c.Output);
    EXPECT_EQ(verdict.EndsRun, c.Code != 0);
    EXPECT_EQ(verdict.Code, c.Code);
    EXPECT_EQ(s.Fake.Titles.back(), "PC042.SALES.LAN: Checking current domain...");
    records.Release();
    EXPECT_EQ(s.Fake.Unreleased(), "");
  }
}

TEST(IdentityChecksTest, NullNameAndDomainReadAsEmpty) {
  FakeStage s;
  s.Fake.ComputerName.reset();
  s.Fake.LanGroup.reset();
  NetInfoRecords records;
  std::string unc;
  ASSERT_FALSE(QueryNetInfo(s.Env, RunSettings{}, ByName, records, unc).EndsRun);
  EXPECT_EQ(CheckNetBiosName(s.Env, RunSettings{}, ByName, records).Code, 4);
  EXPECT_EQ(CheckDomain(s.Env, RunSettings{}, ByName, records).Code, 0);
  EXPECT_EQ(s.Fake.Output, " - NetBIOS name does NOT match. Returned: \r\n + Host in domain: \r\n");
  records.Release();
  EXPECT_EQ(s.Fake.Unreleased(), "");
}

TEST(ServerReportTest, VerboseLinesInOrder) {
  const struct {
    const char* Name;
    bool Verbose;
    Script Setup;
    std::string Output;
  } cases[] = {
      {"nothing without /V", false, [](FakePlatform& f) { f.ServerType = 0x28; }, ""},
      {"a workstation", true, Unchanged, " ! OS version: 5.1\r\n ! Active sessions: 1\r\n"},
      {"controller bits, first wins, time server too", true,
       [](FakePlatform& f) {
         f.ServerType = 0x8038;
         f.LoggedOnUsers = 0;
       },
       " ! OS version: 5.1\r\n ! ROLE: Primary Domain Controller\r\n ! ROLE: Time server\r\n"},
      {"backup controller", true,
       [](FakePlatform& f) {
         f.ServerType = 0x8010;
         f.LoggedOnUsers = 0;
       },
       " ! OS version: 5.1\r\n ! ROLE: Domain Controller\r\n"},
      {"member server, hidden, comment in its own case", true,
       [](FakePlatform& f) {
         f.ServerType = 0x8000;
         f.Hidden = 1;
         f.Comment = u"  File  Server B ";
         f.LoggedOnUsers = 3;
         f.VerMajor = 10;
         f.VerMinor = 0;
       },
       " ! OS version: 10.0\r\n ! OS comment: File  Server B\r\n ! ROLE: non-DC server\r\n"
       " ! Hidden from browse list\r\n ! Active sessions: 3\r\n"},
      {"time server only", true,
       [](FakePlatform& f) {
         f.ServerType = 0x20;
         f.LoggedOnUsers = 0;
       },
       " ! OS version: 5.1\r\n ! ROLE: Time server\r\n"},
      {"blank and null comments print nothing", true,
       [](FakePlatform& f) {
         f.Comment = u"   ";
         f.LoggedOnUsers = 0;
       },
       " ! OS version: 5.1\r\n"},
      {"null comment", true,
       [](FakePlatform& f) {
         f.Comment.reset();
         f.LoggedOnUsers = 0;
         f.VerMajor = 4294967295u;
       },
       " ! OS version: 4294967295.1\r\n"},
      {"a comment cannot reach the terminal raw", true,
       [](FakePlatform& f) {
         f.Comment = u"ok\u001b]2;pwned\u0007";
         f.LoggedOnUsers = 0;
       },
       " ! OS version: 5.1\r\n ! OS comment: ok?]2;pwned?\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeStage s;
    c.Setup(s.Fake);
    RunSettings settings;
    settings.Verbose = c.Verbose;
    NetInfoRecords records;
    std::string unc;
    ASSERT_FALSE(QueryNetInfo(s.Env, settings, ByName, records, unc).EndsRun);
    ReportServerDetails(s.Env, settings, records);
    EXPECT_EQ(s.Fake.Output, c.Output);
    records.Release();
    EXPECT_EQ(s.Fake.Unreleased(), "");
  }
}

}  // namespace
}  // namespace quorvex
