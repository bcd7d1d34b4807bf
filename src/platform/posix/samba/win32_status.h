// The Win32 code Windows gives for a remote call that failed the way Samba
// reports it, so that the sweep's records tell a stopped service from a
// refused logon from an unreachable host, as they do on Windows.
#pragma once

#include <cstdint>

namespace quorvex::samba {

// Win32 codes the backend gives itself, where Samba reports no status of
// its own: the values Windows gives for the same failures.
namespace Win32 {
inline constexpr std::uint32_t InvalidData = 13;             // ERROR_INVALID_DATA
inline constexpr std::uint32_t BadNetPath = 53;              // ERROR_BAD_NETPATH
inline constexpr std::uint32_t InvalidParameter = 87;        // ERROR_INVALID_PARAMETER
inline constexpr std::uint32_t MoreData = 234;               // ERROR_MORE_DATA
inline constexpr std::uint32_t InvalidSid = 1337;            // ERROR_INVALID_SID
inline constexpr std::uint32_t RpcServerUnavailable = 1722;  // RPC_S_SERVER_UNAVAILABLE
}  // namespace Win32

// Where in a remote call Samba's status arose: the name a connect started
// from (the system resolver's address of it, or a NetBIOS name left to
// Samba's broadcast) changes what a missing object means.
// A file question on a share opens a path, where a missing object is a
// missing file.
enum class FailedStep { Connect, ConnectByNetBiosName, Call, File };

struct CallFailure {
  std::uint32_t NtStatus = 0;  // 0 when the step failed without one
  FailedStep Step = FailedStep::Call;
};

// The Win32 code for the failure, or `fallback` (the code this backend has
// always given for the call) when Windows has no closer one.
std::uint32_t Win32StatusOf(const CallFailure& failure, std::uint32_t fallback);

// The Win32 code for an NTSTATUS a host returned as a call's result (samr,
// lsarpc), as Windows translates one for its callers (LsaNtStatusToWinError):
// 317 (ERROR_MR_MID_NOT_FOUND) for a status it has no code for.
std::uint32_t Win32StatusOfResult(std::uint32_t ntStatus);

}  // namespace quorvex::samba
