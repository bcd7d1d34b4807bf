// Whole runs against the scripted host: exact output bytes, titles, exit
// codes, and every resource handed back exactly once.
#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/run_checks.h"
#include "core/findings.h"
#include "fake_platform.h"

namespace quorvex {
namespace {

using Script = std::function<void(FakePlatform&)>;

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

const std::string Resolved = " + Resolved hostname to: 192.168.10.42";
const std::string NameMatches = " + NetBIOS name matches.";
const std::string InDomain = " + Host in domain: SALES";
const std::string ShareOk = " + Admin$ share exists and has greater than 15MB free.";
const std::string ShareMissing = " - Admin$ share does NOT exist or we have no access to it.";
const std::string Connected = " + Connected to remote registry.";
const std::string Workstation = " + WORKSTATION role.";
const std::string ServerFails = " - SERVER role.";
const std::string W2k = " + W2K or greater OS.";

void NoShare(FakePlatform& f) { f.ExistingPaths.clear(); }
void Server(FakePlatform& f) { f.SetRegistryValue(FakePlatform::ProductKey, "ProductType", "ServerNT"); }
void Nt4(FakePlatform& f) { f.SetRegistryValue(FakePlatform::VersionKey, "CurrentVersion", "4.0"); }
void VersionKeyRefused(FakePlatform& f) { f.KeyOpenStatus[FakePlatform::VersionKey] = FakePlatform::ErrorAccessDenied; }

struct Scenario {
  const char* Name;
  std::string Command;
  Script Setup;
  std::vector<std::string> Expected;
  int Code;
};

void RunScenario(const Scenario& s) {
  FakePlatform fake;
  if (s.Setup) s.Setup(fake);
  const int code = RunChecks(s.Command, fake.Services());
  EXPECT_EQ(fake.Output, Lines(s.Expected)) << s.Name;
  EXPECT_EQ(code, s.Code) << s.Name;
  EXPECT_EQ(fake.Unreleased(), "") << s.Name;
}

TEST(ScenarioTest, EveryExitCode) {
  // clang-format off
  const Scenario scenarios[] = {
      {"passes", "/M pc042.sales.lan", nullptr,
       {Resolved, NameMatches, InDomain, ShareOk, Connected, Workstation, W2k}, 0},
      {"name does not resolve", "/M nowhere", nullptr,
       {" - Could not resolve hostname to IP Address."}, 1},
      {"address has no name", "/M 192.168.10.99", nullptr,
       {" - Could not resolve IP Address to hostname."}, 1},
      {"no echo", "/M pc042.sales.lan /P", [](FakePlatform& f) { f.EchoStatuses = {11010, 11010}; },
       {Resolved, " - Host DOWN. Could not ping: 192.168.10.42"}, 1},
      {"workstation query fails", "/M pc042.sales.lan", [](FakePlatform& f) { f.WorkstationStatuses = {53, 53}; },
       {Resolved, " - Can not access. NetWkstaGetInfo call failed."}, 2},
      {"server query fails", "/M pc042.sales.lan", [](FakePlatform& f) { f.ServerStatuses = {5, 5}; },
       {Resolved, " - Can not access. NetServerGetInfo call failed."}, 2},
      {"name mismatch", "/M pc042.sales.lan", [](FakePlatform& f) { f.ComputerName = u"pc043 "; },
       {Resolved, " - NetBIOS name does NOT match. Returned: PC043"}, 4},
      {"already migrated", "/M pc042.sales.lan /C corp /T sales", nullptr,
       {Resolved, NameMatches, " - Host is already in the SALES domain."}, 8},
      {"wrong current domain", "/M pc042.sales.lan /C corp", nullptr,
       {Resolved, NameMatches, " - Host is in the SALES domain (NOT CORP as expected)."}, 8},
      {"invalid address", "/M 1-2-3", nullptr, {"ERROR: /M: Invalid IP Address. Please check format."}, 99},
      {"long NetBIOS name", "/M abcdefghijklmnop.lan", nullptr,
       {"ERROR: /M: Invalid NetBIOS hostname (must be 15 characters or less)."}, 99},
      {"bad /F", "/M pc1 /F 2049", nullptr,
       {"ERROR: /F value must be a whole number less than or equal to 2048."}, 99},
      {"share missing", "/M pc042.sales.lan", NoShare,
       {Resolved, NameMatches, InDomain, ShareMissing, Connected, Workstation, W2k}, 16},
      {"too little space", "/M pc042.sales.lan /F 020",
       [](FakePlatform& f) { f.FreeSpace = DiskFreeSpace{1, 1, 20 * 1024 * 1024, 0}; },
       {Resolved, NameMatches, InDomain, " - Admin$ share exists but has less than 020MB free.", Connected,
        Workstation, W2k}, 16},
      {"server with /W", "/M pc042.sales.lan /W", Server,
       {Resolved, NameMatches, InDomain, ShareOk, Connected, ServerFails, W2k}, 32},
      {"share and role", "/M pc042.sales.lan /W", [](FakePlatform& f) { NoShare(f); Server(f); },
       {Resolved, NameMatches, InDomain, ShareMissing, Connected, ServerFails, W2k}, 48},
      {"NT4", "/M pc042.sales.lan", Nt4,
       {Resolved, NameMatches, InDomain, ShareOk, Connected, Workstation, " - NT4 OS."}, 64},
      {"NT4 allowed", "/M pc042.sales.lan /A", Nt4,
       {Resolved, NameMatches, InDomain, ShareOk, Connected, Workstation, " + NT4 OS."}, 0},
      {"server NT4 with /W", "/M pc042.sales.lan /W", [](FakePlatform& f) { Server(f); Nt4(f); },
       {Resolved, NameMatches, InDomain, ShareOk, Connected, ServerFails, " - NT4 OS."}, 96},
      {"share, server NT4", "/M pc042.sales.lan /W", [](FakePlatform& f) { NoShare(f); Server(f); Nt4(f); },
       {Resolved, NameMatches, InDomain, ShareMissing, Connected, ServerFails, " - NT4 OS."}, 112},
      {"no registry", "/M pc042.sales.lan", [](FakePlatform& f) { f.ConnectStatus = 53; },
       {Resolved, NameMatches, InDomain, ShareOk,
        " - Can NOT access remote registry. Non-NT OS or access denied."}, 128},
      {"share and no registry", "/M pc042.sales.lan", [](FakePlatform& f) { NoShare(f); f.ConnectStatus = 5; },
       {Resolved, NameMatches, InDomain, ShareMissing,
        " - Can NOT access remote registry. Non-NT OS or access denied."}, 144},
      {"product key refused", "/M pc042.sales.lan",
       [](FakePlatform& f) { f.KeyOpenStatus[FakePlatform::ProductKey] = FakePlatform::ErrorAccessDenied; },
       {Resolved, NameMatches, InDomain, ShareOk, Connected,
        " - Can NOT access Computer role info via remote registry. Access denied."}, 128},
      {"server, version key refused", "/M pc042.sales.lan /W", [](FakePlatform& f) { Server(f); VersionKeyRefused(f); },
       {Resolved, NameMatches, InDomain, ShareOk, Connected, ServerFails,
        " - Can NOT access OS version info via remote registry. Access denied."}, 160},
      {"everything late fails", "/M pc042.sales.lan",
       [](FakePlatform& f) {
         NoShare(f);
         f.RemoveRegistryValue(FakePlatform::ProductKey, "ProductType");
         VersionKeyRefused(f);
       },
       {Resolved, NameMatches, InDomain, ShareMissing, Connected, " - UNKNOWN role.",
        " - Can NOT access OS version info via remote registry. Access denied."}, 176},
      {"version unreadable", "/M pc042.sales.lan",
       [](FakePlatform& f) { f.RemoveRegistryValue(FakePlatform::VersionKey, "CurrentVersion"); },
       {Resolved, NameMatches, InDomain, ShareOk, Connected, Workstation, " - UNKNOWN OS."}, 64},
  };
  // clang-format on
  for (const Scenario& s : scenarios) RunScenario(s);
}

TEST(ScenarioTest, UsageText) {
  FakePlatform fake;
  EXPECT_EQ(RunChecks("/M pc1 bogus /Q", fake.Services()), 9);
  const std::string& out = fake.Output;
  EXPECT_EQ(out.rfind("\r\n\aBOGUS was unexpected.\r\n\r\nQuorvex /M (HostName | IP_Address) ", 0), 0u);
  int lines = 0;
  for (std::size_t at = out.find("\r\n"); at != std::string::npos; at = out.find("\r\n", at + 2)) ++lines;
  EXPECT_EQ(lines, 2 + 24);
  EXPECT_NE(out.find("\r\n              [/F nnn] [/D] [/I] [/W] [/A] [/P] [/R] [/V | /Q]\r\n"), std::string::npos);
  EXPECT_NE(out.find("\r\nNOTE: Please see QUORVEX.TXT for error codes and more usage information.\r\n\r\n"),
            std::string::npos);
  EXPECT_TRUE(fake.Calls.empty());
}

TEST(ScenarioTest, VerboseShowsRetriesAndServerDetails) {
  FakePlatform fake;
  fake.EchoStatuses = {11010, 0};
  fake.WorkstationStatuses = {53, 0};
  fake.ServerStatuses = {53, 0};
  fake.FailedCallLeavesRecord = true;
  fake.Comment = u"  Sales printer ";
  fake.ServerType = 0x8000 | 0x0020;
  fake.LoggedOnUsers = 3;
  EXPECT_EQ(RunChecks("/M pc042.sales.lan /P /V /D", fake.Services()), 0);
  EXPECT_EQ(fake.Output, Lines({Resolved, " ! Second knock...", " + Host UP. Successfully pinged: 192.168.10.42",
                                " ! Retrying NetWkstaGetInfo call...", " ! Retrying NetServerGetInfo call...",
                                NameMatches, InDomain, " ! OS version: 5.1", " ! OS comment: Sales printer",
                                " ! ROLE: non-DC server", " ! ROLE: Time server", " ! Active sessions: 3",
                                " + Admin$ share exists.", Connected, Workstation, W2k}));
  EXPECT_EQ(fake.Unreleased(), "");
}

TEST(ScenarioTest, WithoutVerboseRetriesAreSilent) {
  FakePlatform fake;
  fake.EchoStatuses = {11010, 0};
  fake.WorkstationStatuses = {53, 0};
  EXPECT_EQ(RunChecks("/M pc042.sales.lan /P /D", fake.Services()), 0);
  EXPECT_EQ(fake.Output, Lines({Resolved, " + Host UP. Successfully pinged: 192.168.10.42", NameMatches, InDomain,
                                " + Admin$ share exists.", Connected, Workstation, W2k}));
}

TEST(ScenarioTest, QuietRunPrintsNothingButSetsTitlesAndCode) {
  FakePlatform fake;
  NoShare(fake);
  fake.RemoveRegistryValue(FakePlatform::ProductKey, "ProductType");
  VersionKeyRefused(fake);
  EXPECT_EQ(RunChecks("/M pc042.sales.lan /Q", fake.Services()), 176);
  EXPECT_EQ(fake.Output, "");
  EXPECT_EQ(fake.Titles, (std::vector<std::string>{
                             "PC042: Checking NetBIOS name...", "PC042.SALES.LAN: Checking current domain...",
                             "PC042.SALES.LAN: Checking admin$ share...", "PC042.SALES.LAN: Checking Computer role...",
                             "PC042.SALES.LAN: Checking OS version..."}));
  EXPECT_EQ(fake.Unreleased(), "");

  FakePlatform unresolved;
  EXPECT_EQ(RunChecks("/M nowhere /Q", unresolved.Services()), 1);
  EXPECT_EQ(unresolved.Output, "");
  EXPECT_TRUE(unresolved.Titles.empty());
}

TEST(ScenarioTest, ErrorLinesShowEvenWhenQuiet) {
  FakePlatform fake;
  EXPECT_EQ(RunChecks("/Q /V /M pc1", fake.Services()), 99);
  EXPECT_EQ(fake.Output, "ERROR: /Q and /V switches can not be used at the same time. Pick one.\r\n");
}

TEST(ScenarioTest, EarlyFailuresTouchNothingLater) {
  FakePlatform fake;
  EXPECT_EQ(RunChecks("/M pc042.sales.lan /C corp", fake.Services()), 8);
  for (const std::string& call : fake.Calls) {
    EXPECT_EQ(call.find("FindFirstFileA"), std::string::npos);
    EXPECT_EQ(call.find("RegConnectRegistryA"), std::string::npos);
  }
  EXPECT_TRUE(fake.EchoDestinations.empty());  // no /P, no echo
  EXPECT_EQ(fake.WorkstationRecords.Released, 1);
  EXPECT_EQ(fake.ServerRecords.Released, 1);
  EXPECT_EQ(fake.Unreleased(), "");
}

TEST(ScenarioTest, RetryByAddressKeepsTheHostAsTheToolReadIt) {
  FakePlatform fake;
  fake.NameOfAddress[{192, 168, 1, 10}] = "pc042.sales.lan";
  fake.WorkstationStatuses = {53, 0};
  fake.EveryPathExists = true;
  EXPECT_EQ(RunChecks("/M 192.168.001.010 /R /V /D", fake.Services()), 0);
  EXPECT_NE(fake.Output.find(" ! Retrying NetWkstaGetInfo call with IP Address: 192.168.001.010\r\n"),
            std::string::npos);
  EXPECT_EQ(fake.WorkstationServerNames, (std::vector<std::string>{"\\\\PC042", "\\\\192.168.1.10"}));
  EXPECT_EQ(fake.ServerServerNames, (std::vector<std::string>{"\\\\192.168.1.10"}));
  bool sawShareByAddress = false;
  for (const std::string& call : fake.Calls) {
    if (call == "FindFirstFileA \\\\192.168.1.10\\admin$\\System32") sawShareByAddress = true;
  }
  EXPECT_TRUE(sawShareByAddress);
}

// What a recording caller hears: the lines it printed, and each fact once,
// learned facts only, in the order the stages learn them.
class FactLog final : public FindingsSink {
 public:
  std::string Lines;
  std::vector<std::string> Facts;
  void Line(std::string_view line) override { (Lines += line) += "\r\n"; }
  void Text(Fact fact, std::string_view value) override { Add(fact, std::string(value)); }
  void Number(Fact fact, std::uint64_t value) override { Add(fact, std::to_string(value)); }
  void Flag(Fact fact, bool value) override { Add(fact, value ? "true" : "false"); }
  void FailedCall(std::string_view call, std::int64_t status) override {
    Facts.push_back("failed " + std::string(call) + " " + std::to_string(status));
  }

 private:
  void Add(Fact fact, const std::string& value) {
    static const char* const names[] = {"address",     "full_name",  "netbios_name", "domain",
                                        "admin_share", "free_bytes", "product_type", "os_version"};
    Facts.push_back(names[static_cast<int>(fact)] + (" " + value));
  }
};

TEST(ScenarioTest, FindingsFollowTheRun) {
  struct Case {
    const char* Name;
    std::string Command;
    Script Setup;
    std::vector<std::string> Facts;
  };
  const std::vector<std::string> identity = {"address 192.168.10.42", "full_name PC042.SALES.LAN"};
  const std::vector<std::string> reported = {"netbios_name PC042", "domain SALES"};
  auto join = [](std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  // clang-format off
  const Case cases[] = {
      {"passes", "/M pc042.sales.lan /V", nullptr,
       join({identity, reported,
             {"admin_share true", "free_bytes 4096000000", "product_type WinNT", "os_version 5.1"}})},
      {"first query fails once", "/M pc042.sales.lan /D", [](FakePlatform& f) { f.WorkstationStatuses = {53, 0}; },
       join({identity, {"failed NetWkstaGetInfo 53"}, reported,
             {"admin_share true", "product_type WinNT", "os_version 5.1"}})},
      {"unresolved", "/M nowhere", nullptr, {}},
      {"no share, no registry", "/M pc042.sales.lan",
       [](FakePlatform& f) {
         NoShare(f);
         f.FileFailureStatus = 67;
         f.ConnectStatus = 53;
       },
       join({identity, reported, {"failed FindFirstFileA 67", "admin_share false", "failed RegConnectRegistryA 53"}})},
      // Free space that could not be asked is no number at all, and a failure
      // whose status the platform does not know is no error entry.
      {"free space unknown", "/M pc042.sales.lan",
       [](FakePlatform& f) { f.FreeSpace.reset(); },
       join({identity, reported, {"admin_share true", "product_type WinNT", "os_version 5.1"}})},
      {"free space refused", "/M pc042.sales.lan",
       [](FakePlatform& f) {
         f.FreeSpace.reset();
         f.FileFailureStatus = 5;
       },
       join({identity, reported, {"admin_share true", "failed GetDiskFreeSpaceA 5", "product_type WinNT", "os_version 5.1"}})},
  };
  // clang-format on
  for (const Case& c : cases) {
    FakePlatform fake;
    if (c.Setup) c.Setup(fake);
    FactLog log;
    RunChecks(c.Command, fake.Services(), log);
    EXPECT_EQ(log.Facts, c.Facts) << c.Name;
    EXPECT_EQ(log.Lines, fake.Output) << c.Name;  // the sink hears exactly what was printed
    EXPECT_EQ(fake.Unreleased(), "") << c.Name;
  }
}

// A recording caller that wants the SMB facts: it hears them after every
// other call, only of a host that answered, and only dialects it can name.
class SmbLog final : public FindingsSink {
 public:
  std::vector<std::string> Told;
  void Line(std::string_view) override {}
  void Text(Fact fact, std::string_view value) override {
    if (fact == Fact::SmbDialect) Told.push_back("dialect " + std::string(value));
  }
  void Number(Fact, std::uint64_t) override {}
  void Flag(Fact fact, bool value) override {
    if (fact == Fact::SmbSigningRequired) Told.push_back(value ? "signing required" : "signing optional");
  }
  void FailedCall(std::string_view, std::int64_t) override {}
  bool WantsSmbFacts() const override { return true; }
};

TEST(ScenarioTest, SmbFactsLastAndOnlyOfAHostThatAnswered) {
  const SmbConnectionFacts smb311{0x0311, true};
  struct Case {
    const char* Name;
    std::string Command;
    SmbConnectionFacts Connection;
    Script Setup;
    std::string AskedOf;  // empty: never asked
    std::vector<std::string> Told;
  };
  // clang-format off
  const Case cases[] = {
      {"passes", "/M pc042.sales.lan", smb311, nullptr, "\\\\PC042", {"dialect 3.1.1", "signing required"}},
      {"2.0.2, signing optional", "/M pc042.sales.lan", {0x0202, false}, nullptr, "\\\\PC042",
       {"dialect 2.0.2", "signing optional"}},
      {"a dialect code nobody names", "/M pc042.sales.lan", {0x0201, false}, nullptr, "\\\\PC042", {"signing optional"}},
      {"nothing known", "/M pc042.sales.lan", {}, nullptr, "\\\\PC042", {}},
      {"ended by the name check: still asked", "/M pc042.sales.lan", smb311,
       [](FakePlatform& f) { f.ComputerName = u"OTHER"; }, "\\\\PC042", {"dialect 3.1.1", "signing required"}},
      {"retried by address: asked of the name that answered", "/M 192.168.10.42 /R", smb311,
       [](FakePlatform& f) { f.WorkstationStatuses = {53, 0}; }, "\\\\192.168.10.42",
       {"dialect 3.1.1", "signing required"}},
      {"never answered", "/M pc042.sales.lan", smb311, [](FakePlatform& f) { f.WorkstationStatuses = {53, 53}; }, "",
       {}},
      {"not reached at all", "/M nowhere", smb311, nullptr, "", {}},
  };
  // clang-format on
  for (const Case& c : cases) {
    FakePlatform fake;
    fake.Connection = c.Connection;
    if (c.Setup) c.Setup(fake);
    SmbLog log;
    RunChecks(c.Command, fake.Services(), log);
    EXPECT_EQ(log.Told, c.Told) << c.Name;
    if (c.AskedOf.empty()) {
      for (const std::string& call : fake.Calls) EXPECT_NE(call.rfind("ConnectionFacts", 0), 0u) << c.Name;
    } else {
      // Once, after every call but the releases of what the calls handed out
      // (the records, and the registry connection kept for the facts).
      const auto asked = std::find(fake.Calls.begin(), fake.Calls.end(), "ConnectionFacts " + c.AskedOf);
      ASSERT_NE(asked, fake.Calls.end()) << c.Name;
      for (auto later = asked + 1; later != fake.Calls.end(); ++later) {
        EXPECT_TRUE(*later == "NetApiBufferFree" || *later == "RegCloseKey") << c.Name << ": " << *later;
      }
    }
    EXPECT_EQ(fake.Unreleased(), "") << c.Name;

    // The single tool never asks, so its calls and bytes stay as they were.
    FakePlatform single;
    single.Connection = c.Connection;
    if (c.Setup) c.Setup(single);
    RunChecks(c.Command, single.Services());
    for (const std::string& call : single.Calls) EXPECT_NE(call.rfind("ConnectionFacts", 0), 0u) << c.Name;
    EXPECT_EQ(single.Output, fake.Output) << c.Name;
  }
}

// A caller that wants what a move trips over: it hears it after the checks'
// code, as facts and list items, and the failed calls among them.
class MoveLog final : public FindingsSink {
 public:
  std::vector<std::string> Told;  // from the checks' code on
  void Line(std::string_view) override {}
  void Text(Fact fact, std::string_view value) override {
    if (fact == Fact::ClockSkew) Add("skew " + std::string(value));
    if (fact == Fact::DnsDomain) Add("dns " + std::string(value));
  }
  void Number(Fact, std::uint64_t) override {}
  void Flag(Fact, bool) override {}
  void FailedCall(std::string_view call, std::int64_t status) override {
    Add("failed " + std::string(call) + " " + std::to_string(status));
  }
  bool WantsMoveFacts() const override { return true; }
  void Item(Fact fact, std::initializer_list<std::string_view> fields) override {
    static const std::map<Fact, std::string> names = {{Fact::RebootPending, "reboot"},
                                                      {Fact::RemoteRegistry, "remote-registry"},
                                                      {Fact::DomainService, "service"},
                                                      {Fact::LocalAdmin, "admin"},
                                                      {Fact::Profile, "profile"}};
    std::string item = names.at(fact);
    for (std::string_view field : fields) item += "|" + std::string(field);
    Add(item);
  }
  void Checked(std::uint16_t code) override { Told.push_back("checked " + std::to_string(code)); }

 private:
  void Add(const std::string& what) {
    if (!Told.empty()) Told.push_back(what);
  }
};

TEST(ScenarioTest, WhatAMoveTripsOverComesAfterTheChecksAndChangesNothing) {
  const std::string cbs = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending";
  const std::string sm = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  const std::string profiles = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
  struct Case {
    const char* Name;
    std::string Command;
    std::function<void(FakePlatform&)> Setup;
    std::vector<std::string> Told;
    bool AnsweredOnce = false;  // answered its first query and no other: prepared, never asked
  };
  // A healthy host: every list read, nothing in the way.
  const std::vector<std::string> healthy = {"checked 0", "skew 0.0", "reboot", "profile", "service", "admin"};
  // clang-format off
  const Case cases[] = {
      {"healthy", "/M pc042.sales.lan", nullptr, healthy},
      {"clock ahead and a DNS domain", "/M pc042.sales.lan",
       [](FakePlatform& f) { f.HostClockMs += 600049; f.DnsDomain = "sales.example"; },
       {"checked 0", "skew 600.0", "dns sales.example", "reboot", "profile", "service", "admin"}},
      {"clock a hair behind", "/M pc042.sales.lan", [](FakePlatform& f) { f.HostClockMs -= 40; }, healthy},
      {"restart pending twice over", "/M pc042.sales.lan",
       [&](FakePlatform& f) {
         f.KeyOpenStatus[cbs] = 0;
         f.KeyOpenStatus[sm] = 0;
         f.SetRegistryBytes(sm, "PendingFileRenameOperations", std::string("\\??\\C:\\a\0\0\0", 12));
       },
       {"checked 0", "skew 0.0", "reboot", "reboot|component-servicing", "reboot|file-rename", "profile", "service",
        "admin"}},
      {"an empty rename list is no restart", "/M pc042.sales.lan",
       [&](FakePlatform& f) {
         f.KeyOpenStatus[sm] = 0;
         f.SetRegistryBytes(sm, "PendingFileRenameOperations", std::string(2, '\0'));
       },
       healthy},
      {"marker key unreadable: no reboot fact", "/M pc042.sales.lan",
       [&](FakePlatform& f) { f.KeyOpenStatus[cbs] = 5; },
       {"checked 0", "skew 0.0", "failed RegOpenKeyExA 5", "profile", "service", "admin"}},
      {"registry refused: the Remote Registry service instead", "/M pc042.sales.lan",
       [](FakePlatform& f) {
         f.ConnectStatus = 53;
         f.HostServices = {{"RemoteRegistry", "Remote Registry", "NT AUTHORITY\\LocalService", 4, 1}};
       },
       {"checked 128", "skew 0.0", "remote-registry|stopped|disabled", "service", "admin"}},
      {"registry refused, and the service manager too", "/M pc042.sales.lan",
       [](FakePlatform& f) {
         f.ConnectStatus = 53;
         f.ServiceQueryStatus = {5, "OpenSCManagerW"};
         f.ServicesStatus = {5, "OpenSCManagerW"};
       },
       {"checked 128", "skew 0.0", "failed OpenSCManagerW 5", "failed OpenSCManagerW 5", "admin"}},
      {"only domain accounts' services", "/M pc042.sales.lan",
       [](FakePlatform& f) {
         f.HostServices = {{"a", "A", "LocalSystem", 2, 4},           {"b", "B", "NT AUTHORITY\\LocalService", 3, 1},
                           {"c", "C", "NT SERVICE\\MSSQL", 2, 4},     {"d", "D", ".\\localuser", 2, 4},
                           {"e", "E", "pc042\\localuser", 2, 4},      {"f", "F", "", 1, 4},
                           {"g", "G", "SALES\\svc-backup", 2, 4},     {"h", "H", "svc@sales.example", 4, 1}};
       },
       {"checked 0", "skew 0.0", "reboot", "profile", "service", "service|g|G|SALES\\svc-backup|automatic|running",
        "service|h|H|svc@sales.example|disabled|stopped", "admin"}},
      {"administrators as the host names them", "/M pc042.sales.lan",
       [](FakePlatform& f) {
         f.Administrators = {{"S-1-5-21-9-512", "Domain Admins", "SALES", 2},
                             {"S-1-5-21-1000-2000-3000-500", "Administrator", "PC042", 1},
                             {"S-1-5-21-9-1107", "", "", 6}};
       },
       {"checked 0", "skew 0.0", "reboot", "profile", "service", "admin",
        "admin|S-1-5-21-9-512|Domain Admins|SALES|group", "admin|S-1-5-21-1000-2000-3000-500|Administrator|PC042|user",
        "admin|S-1-5-21-9-1107|||deleted"}},
      {"profiles of other domains' accounts only", "/M pc042.sales.lan",
       [&](FakePlatform& f) {
         f.KeyOpenStatus[profiles] = 0;
         for (const char* sid : {"S-1-5-18", "S-1-5-21-1000-2000-3000-1001", "S-1-5-21-9-1105", "S-1-5-21-9-1106"}) {
           f.KeyOpenStatus[profiles + "\\" + sid] = 0;
         }
         f.SidNames["S-1-5-21-9-1105"] = {"", "anna", "SALES", 1};
       },
       {"checked 0", "skew 0.0", "reboot", "profile", "profile|S-1-5-21-9-1105|anna|SALES", "profile|S-1-5-21-9-1106||",
        "service", "admin"}},
      {"no own domain: no profiles", "/M pc042.sales.lan",
       [](FakePlatform& f) { f.DomainsStatus = {5, "LsaQueryInformationPolicy"}; },
       {"checked 0", "skew 0.0", "failed LsaQueryInformationPolicy 5", "reboot", "service", "admin"}},
      {"role key refused: the facts connect again", "/M pc042.sales.lan",
       [](FakePlatform& f) { f.KeyOpenStatus[FakePlatform::ProductKey] = 5; },
       {"checked 128", "skew 0.0", "reboot", "profile", "service", "admin"}},
      {"ended by the name check: still asked", "/M pc042.sales.lan",
       [](FakePlatform& f) { f.ComputerName = u"OTHER"; }, {"checked 4", "skew 0.0", "reboot", "profile", "service", "admin"}},
      {"never answered: never asked", "/M pc042.sales.lan", [](FakePlatform& f) { f.WorkstationStatuses = {53, 53}; }, {}},
      {"server query refused: announced, never asked", "/M pc042.sales.lan",
       [](FakePlatform& f) { f.ServerStatuses = {5, 5}; }, {}, true},
  };
  // clang-format on
  for (const Case& c : cases) {
    FakePlatform fake;
    if (c.Setup) c.Setup(fake);
    MoveLog log;
    const int code = RunChecks(c.Command, fake.Services(), log);
    EXPECT_EQ(log.Told, c.Told) << c.Name;
    EXPECT_EQ(fake.Unreleased(), "") << c.Name;
    // The facts read the registry over the checks' connection; only when
    // the checks have none do they ask for one, to learn why.
    const auto connects = std::count_if(fake.Calls.begin(), fake.Calls.end(), [](const std::string& call) {
      return call.rfind("RegConnectRegistryA", 0) == 0;
    });
    const auto role = fake.KeyOpenStatus.find(FakePlatform::ProductKey);
    const bool checksKeptOne = fake.ConnectStatus == 0 && (role == fake.KeyOpenStatus.end() || role->second == 0);
    if (!c.Told.empty()) {
      EXPECT_EQ(connects, checksKeptOne ? 1 : 2) << c.Name;
    }
    // ... and let it go once read, so its close is not the run's last wait.
    const auto listed = std::find_if(fake.Calls.begin(), fake.Calls.end(),
                                     [](const std::string& call) { return call.rfind("EnumServices", 0) == 0; });
    EXPECT_TRUE(std::none_of(listed, fake.Calls.end(), [](const std::string& call) {
      return call.rfind("RegCloseKey", 0) == 0;
    })) << c.Name;
    // The listing is announced once, as soon as the host first answered, so
    // it can go on beside the checks: before the server query, and so before
    // the share's first question. A host whose server query fails after
    // that has it announced and never asked.
    const auto prepared = std::find_if(fake.Calls.begin(), fake.Calls.end(),
                                       [](const std::string& call) { return call.rfind("prepare ", 0) == 0; });
    EXPECT_EQ(std::count_if(fake.Calls.begin(), fake.Calls.end(),
                            [](const std::string& call) { return call.rfind("prepare ", 0) == 0; }),
              c.Told.empty() && !c.AnsweredOnce ? 0 : 1)
        << c.Name;
    if (prepared != fake.Calls.end()) {
      EXPECT_TRUE(std::none_of(fake.Calls.begin(), prepared, [](const std::string& call) {
        return call.rfind("NetServerGetInfo", 0) == 0 || call.rfind("FindFirstFileA", 0) == 0;
      })) << c.Name;
    }

    // The single tool asks none of it: the same bytes, the same code, and
    // not one call of the host administration service.
    FakePlatform single;
    if (c.Setup) c.Setup(single);
    EXPECT_EQ(RunChecks(c.Command, single.Services()), code) << c.Name;
    EXPECT_EQ(single.Output, fake.Output) << c.Name;
    for (const std::string& call : single.Calls) {
      for (const char* admin :
           {"prepare", "NetRemoteTOD", "EnumServices", "QueryServiceConfigW", "NetLocalGroupGetMembers",
            "LsaLookupSids", "LsaQueryInformationPolicy", "RegEnumKeyExA"}) {
        EXPECT_NE(call.rfind(admin, 0), 0u) << c.Name << ": " << call;
      }
    }
  }
}

}  // namespace
}  // namespace quorvex
