// Every exit code the tool gives, each defined once, with what a batch file
// that branches on the errorlevel reads into it.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace quorvex {

namespace ExitCode {
inline constexpr std::uint16_t Success = 0;        // every check that ran passed
inline constexpr std::uint16_t Unreachable = 1;    // the host does not resolve or answer the ping
inline constexpr std::uint16_t NoManagement = 2;   // the workstation or server query failed twice
inline constexpr std::uint16_t NameMismatch = 4;   // the reported computer name differs
inline constexpr std::uint16_t WrongDomain = 8;    // not in /C, or already in /T
inline constexpr std::uint16_t UsageShown = 9;     // the usage text was shown
inline constexpr std::uint16_t AdminShare = 16;    // admin$ missing, unreachable or too full
inline constexpr std::uint16_t Role = 32;          // role unreadable, or a server under /W
inline constexpr std::uint16_t OsVersion = 64;     // version unreadable or not supported
inline constexpr std::uint16_t InvalidValue = 99;  // a command-line value is invalid
inline constexpr std::uint16_t Registry = 128;     // remote registry or a key cannot be opened
inline constexpr std::uint16_t Largest = 255;      // what the process can report
}  // namespace ExitCode

// The fleet sweep's own codes. A refused host's record carries
// ExitCode::UsageShown, as the single tool would give for its text.
namespace SweepExitCode {
inline constexpr int AllPassed = 0;                 // every host recorded passed
inline constexpr int SomeFailed = 1;                // a host failed, timed out or crashed
inline constexpr int UnusableFile = 3;              // a list, records file or page cannot be read or written
inline constexpr int Usage = ExitCode::UsageShown;  // the sweep's own options are wrong
inline constexpr int Interrupted = 130;             // Ctrl-C, as a shell reports SIGINT
}  // namespace SweepExitCode

// One row per code a run can end with or add up: the short name records and
// reports use for it. The late codes (16 and up, but 99) add up; the others
// stand alone.
struct ExitCodeRow {
  std::uint16_t Code;
  std::string_view Name;
};

inline constexpr ExitCodeRow ExitCodeTable[] = {
    {ExitCode::Unreachable, "unreachable"},    {ExitCode::NoManagement, "no-management"},
    {ExitCode::NameMismatch, "name-mismatch"}, {ExitCode::WrongDomain, "domain"},
    {ExitCode::AdminShare, "admin-share"},     {ExitCode::Role, "role"},
    {ExitCode::OsVersion, "os-version"},       {ExitCode::Registry, "registry"},
};
inline constexpr std::string_view UsageName = "usage";
inline constexpr std::string_view InvalidName = "invalid";

// The code taken apart into its names, lowest first: [] for 0, ["usage"] for
// 9, ["invalid"] for 99.
std::vector<std::string_view> FailureNames(std::uint16_t exitCode);

}  // namespace quorvex
