// One host's record in a sweep: what its run learned, as written to the
// JSON Lines and CSV files and read back on resume. Text is UTF-8. A fact the
// run did not reach stays empty (null in the files), never "" or 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/exit_codes.h"

namespace quorvex::records {

inline constexpr int RecordSchema = 1;

// The OS as the registry's CurrentVersion key describes it, each value under
// its registry name; Family is derived from the others.
struct OsFacts {
  std::optional<std::uint32_t> CurrentMajorVersionNumber;
  std::optional<std::uint32_t> CurrentMinorVersionNumber;
  std::optional<std::string> CurrentBuildNumber;
  std::optional<std::uint32_t> UBR;
  std::optional<std::string> DisplayVersion;  // or ReleaseId where DisplayVersion is absent
  std::optional<std::string> ProductName;
  std::optional<std::string> EditionID;
  std::optional<std::string> InstallationType;
  std::optional<std::string> Family;  // "Windows 11 23H2", "Windows Server 2022", ...
};

// A platform call that failed, with the host's status and its symbolic name.
struct CallError {
  std::string Call;
  std::int64_t Status = 0;
  std::string Name;  // "ERROR_ACCESS_DENIED"; empty when the status has no known name
};

struct SmbFacts {
  std::optional<std::string> Dialect;  // "3.1.1"
  std::optional<bool> SigningRequired;
};

// What a move to another domain trips over, beyond the checks. Asked only of
// a host that answered its management calls; records of older sweeps lack
// them (null), and a query that failed leaves its fact null.
struct ServiceEntry {
  std::string Name;
  std::string DisplayName;
  std::string Account;
  std::string StartType;  // "automatic", "manual", "disabled", "boot", "system"
  std::string State;      // "stopped", "start-pending", "stop-pending", "running", ...
};

struct AccountEntry {
  std::string Sid;
  std::string Name;    // as the host translates the SID; "" when it cannot
  std::string Domain;  // the account's domain, NetBIOS name
  std::string Kind;    // "user", "group", "alias", "well-known", "computer", "deleted", "unknown"; "" for profiles
};

struct ServiceState {
  std::string State;
  std::string StartType;
};

struct MoveFacts {
  std::optional<double> ClockSkewS;  // the host's clock minus the checker's, one decimal
  std::optional<std::string> DnsDomain;
  std::optional<std::vector<std::string>> RebootPending;  // "component-servicing", "windows-update", "file-rename"
  std::optional<ServiceState> RemoteRegistry;             // only when the registry could not be opened
  std::optional<std::vector<ServiceEntry>> DomainServices;
  std::optional<std::vector<AccountEntry>> LocalAdmins;
  std::optional<std::vector<AccountEntry>> Profiles;
  // Derived by the sweep: the domain the host moves out of (/C, else the one
  // it reported), and what stands in the way of the move.
  std::optional<std::string> OldDomain;
  std::optional<std::vector<std::string>> Blockers;
};

struct HostRecord {
  int Schema = RecordSchema;
  std::string Host;       // as listed
  std::string CheckedAt;  // UTC, RFC 3339
  std::int64_t ElapsedMs = 0;
  int ExitCode = 0;  // the failed names are derived from it (core/exit_codes.h)
  bool TimedOut = false;
  bool Crashed = false;
  std::optional<std::string> Address;
  std::optional<std::string> FullName;
  std::optional<std::string> NetbiosName;
  std::optional<std::string> Domain;
  std::optional<std::string> ProductType;
  std::optional<std::string> OsVersion;
  std::optional<bool> AdminShare;
  std::optional<std::uint64_t> FreeBytes;
  std::vector<std::string> Lines;  // the status lines, without line ends
  OsFacts Os;
  std::vector<CallError> Errors;
  SmbFacts Smb;
  MoveFacts Move;
  // The site the sweep was told it ran at (--site); records of older sweeps,
  // and sweeps not told, have none.
  std::optional<std::string> Site;
};

// The host never answered its management calls: it did not resolve or ping,
// its workstation query failed, or it was killed at its deadline.
inline bool Unreachable(const HostRecord& r) {
  return r.ExitCode == ExitCode::Unreachable || r.ExitCode == ExitCode::NoManagement || r.TimedOut;
}

}  // namespace quorvex::records
