// A scripted host living in memory: every service the checks call, no network.
//
// A test describes the host by changing one thing of the default script, which
// passes every check for "/M PC042.SALES.LAN", runs, then looks at what the
// run wrote, which calls it made and whether it gave everything back:
//
//   FakePlatform fake;                                   // a healthy PC042
//   fake.WorkstationStatuses = {53, 0};                  // first query fails
//   fake.SetRegistryValue(FakePlatform::VersionKey, "CurrentVersion", "4.0");
//   int code = RunChecks("/M PC042.SALES.LAN /V", fake.Services());
//   EXPECT_EQ(fake.Output, " + ...\r\n");
//   EXPECT_EQ(fake.Unreleased(), "");                    // every handle closed once
//
// A test of one stage uses FakeStage, which adds the Output and RunEnv a
// stage is handed: `FakeStage s; CheckAdminShare(s.Env, settings, id, unc);`.
//
// Calls are logged by the name of the Win32 call they stand for and their main
// argument ("NetWkstaGetInfo \\PC042", "RegQueryValueExA ProductType"), so a
// test can assert the order of work, including when resources were released.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/output.h"
#include "core/platform.h"
#include "core/stage.h"

namespace quorvex {

class FakePlatform {
 public:
  static constexpr char ProductKey[] = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
  static constexpr char VersionKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  static constexpr std::int32_t ErrorFileNotFound = 2;
  static constexpr std::int32_t ErrorAccessDenied = 5;
  static constexpr std::int32_t ErrorMoreData = 234;
  static constexpr std::int32_t ErrorNoMoreItems = 259;

  FakePlatform();
  ~FakePlatform();
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  Platform& Services();

  // --- Console ---------------------------------------------------------------
  std::string Output;                 // every byte written to standard output
  std::vector<std::string> Titles;    // every window title, in order
  std::vector<std::uint32_t> Sleeps;  // requested pauses; the fake never sleeps

  // --- Name lookups ----------------------------------------------------------
  // Forward answers, looked up case-insensitively like a resolver does. A
  // dotted quad that is not in the map answers itself, as gethostbyname does.
  std::map<std::string, Ipv4Address> AddressOfName;
  // Reverse answers; an address not in the map has no entry.
  std::map<Ipv4Address, std::string> NameOfAddress;
  std::string LocalName;  // gethostname; empty means the call fails

  // --- ICMP echo -------------------------------------------------------------
  std::deque<std::int32_t> EchoStatuses;  // one per attempt; empty: 11010 (timed out)
  std::uint32_t EchoRoundTripTime = 1;
  bool EchoHandleUnavailable = false;  // IcmpCreateFile fails
  std::vector<Ipv4Address> EchoDestinations;

  // --- Network management ----------------------------------------------------
  std::deque<std::uint32_t> WorkstationStatuses;  // one per call; empty: 0
  std::deque<std::uint32_t> ServerStatuses;       // one per call; empty: 0
  bool FailedCallLeavesRecord = false;            // a failed call still hands back a record
  // Record contents; nullopt makes the record's pointer null.
  std::optional<std::u16string> ComputerName;
  std::optional<std::u16string> LanGroup;
  std::optional<std::u16string> Comment;
  std::uint32_t VerMajor = 5;
  std::uint32_t VerMinor = 1;
  std::uint32_t LoggedOnUsers = 0;
  std::uint32_t ServerType = 0;
  std::uint32_t Hidden = 0;
  std::vector<std::string> WorkstationServerNames;  // server name of each call
  std::vector<std::string> ServerServerNames;

  // --- Files over UNC paths --------------------------------------------------
  // Paths FindFirstFileA finds: by default only \\PC042\admin$\System32, so a
  // run that addresses the host by another name (the /R retry) must add its
  // own path, or set EveryPathExists.
  std::set<std::string> ExistingPaths;
  bool EveryPathExists = false;
  std::optional<DiskFreeSpace> FreeSpace;  // nullopt: GetDiskFreeSpaceA fails
  std::uint32_t FileFailureStatus = 0;     // what GetLastError says after a failed file call
  SmbConnectionFacts Connection;           // what the connection negotiated; by default unknown

  // --- Remote registry -------------------------------------------------------
  std::int32_t ConnectStatus = 0;
  // Open status per key path (as the checks spell it); unlisted keys answer
  // ErrorFileNotFound.
  std::map<std::string, std::int32_t> KeyOpenStatus;
  // Stored value bytes per (key path, value name); an absent value makes the
  // query fail and leave the caller's buffer untouched.
  std::map<std::pair<std::string, std::string>, std::string> RegistryValues;
  // Registry type per value; unlisted values are REG_SZ.
  std::map<std::pair<std::string, std::string>, std::uint32_t> RegistryTypes;
  // Stores text the way the registry keeps a string: with its closing NUL.
  void SetRegistryValue(const std::string& keyPath, const std::string& valueName, const std::string& text);
  void SetRegistryBytes(const std::string& keyPath, const std::string& valueName, const std::string& bytes);
  // Stores a REG_DWORD, little endian.
  void SetRegistryDword(const std::string& keyPath, const std::string& valueName, std::uint32_t value);
  void RemoveRegistryValue(const std::string& keyPath, const std::string& valueName);
  // RegEnumKeyExA lists the keys of KeyOpenStatus one level down; a key
  // listed here fails to be listed with this status instead.
  std::map<std::string, std::int32_t> KeyEnumStatus;

  // --- Host administration, beyond the checks --------------------------------
  std::int64_t HostClockMs = 1765000000000;  // the host's clock and ours at one instant
  std::int64_t LocalClockMs = 1765000000000;
  CallStatus ClockStatus;
  std::vector<ServiceInfo> HostServices;  // what the service control manager lists
  CallStatus ServicesStatus;
  CallStatus ServiceQueryStatus;            // of every single-service query
  std::vector<AccountInfo> Administrators;  // members of BUILTIN\Administrators, as the host gives them
  CallStatus AdministratorsStatus;
  std::map<std::string, AccountInfo> SidNames;  // what LsaLookupSids says of each SID; others stay unknown
  CallStatus LookupStatus;
  std::string AccountDomainSid = "S-1-5-21-1000-2000-3000";
  std::string DnsDomain;
  CallStatus DomainsStatus;

  // --- What happened ---------------------------------------------------------
  std::vector<std::string> Calls;
  // What was given back, in order: "echo handle", "workstation record",
  // "server record", "find handle", "registry key <path>" ("registry key \\PC042"
  // for a root key).
  std::vector<std::string> Releases;

  struct Counter {
    int HandedOut = 0;
    int Released = 0;
  };
  Counter EchoHandles;
  Counter WorkstationRecords;
  Counter ServerRecords;
  Counter FindHandles;
  Counter RegistryKeys;

  // Empty when every resource handed out was released exactly once; otherwise
  // one "<kind>: <n> handed out, <m> released" per unbalanced kind.
  std::string Unreleased() const;

  // Where the platform's objects report back. Public for the service classes
  // in the .cc file; tests use the fields above.
  struct ServiceSet;

 private:
  std::unique_ptr<ServiceSet> services_;
};

// One fake host plus what a single stage is handed.
struct FakeStage {
  FakePlatform Fake;
  Output Out{Fake.Services().Console};
  RunEnv Env{Fake.Services(), Out, Out.Findings()};
};

}  // namespace quorvex
