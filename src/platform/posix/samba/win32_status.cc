#include "platform/posix/samba/win32_status.h"

namespace quorvex::samba {
namespace {

constexpr std::uint32_t ObjectNameNotFound = 0xC0000034;

struct Row {
  std::uint32_t NtStatus;
  std::uint32_t Win32;
};

// NTSTATUS -> Win32, as the Windows client maps a failed network call.
constexpr Row Table[] = {
    {0xC0000022, 5},     // ACCESS_DENIED -> ERROR_ACCESS_DENIED
    {0xC00000CA, 65},    // NETWORK_ACCESS_DENIED -> ERROR_NETWORK_ACCESS_DENIED
    {0xC000006D, 1326},  // LOGON_FAILURE -> ERROR_LOGON_FAILURE
    {0xC000006A, 1326},  // WRONG_PASSWORD
    {0xC0000064, 1326},  // NO_SUCH_USER
    {0xC000006E, 1327},  // ACCOUNT_RESTRICTION
    {0xC0000071, 1330},  // PASSWORD_EXPIRED
    {0xC0000072, 1331},  // ACCOUNT_DISABLED
    {0xC0000234, 1909},  // ACCOUNT_LOCKED_OUT
    {0xC000005E, 1311},  // NO_LOGON_SERVERS
    {0xC0000236, 1225},  // CONNECTION_REFUSED -> ERROR_CONNECTION_REFUSED
    {0xC000023C, 1231},  // NETWORK_UNREACHABLE
    {0xC000023D, 1232},  // HOST_UNREACHABLE
    {0xC000023E, 1232},  // PROTOCOL_UNREACHABLE
    {0xC000023F, 1225},  // PORT_UNREACHABLE
    {0xC00000B5, 121},   // IO_TIMEOUT -> ERROR_SEM_TIMEOUT
    {0xC00000CC, 67},    // BAD_NETWORK_NAME -> ERROR_BAD_NET_NAME
    {0xC00000BE, 53},    // BAD_NETWORK_PATH -> ERROR_BAD_NETPATH
    {0xC000020C, 64},    // CONNECTION_DISCONNECTED -> ERROR_NETNAME_DELETED
    {0xC000020D, 64},    // CONNECTION_RESET
    {0xC00000C9, 64},    // NETWORK_NAME_DELETED
    {0xC000003A, 3},     // OBJECT_PATH_NOT_FOUND -> ERROR_PATH_NOT_FOUND
    {0xC0000033, 123},   // OBJECT_NAME_INVALID -> ERROR_INVALID_NAME
    {0xC00000BB, 50},    // NOT_SUPPORTED -> ERROR_NOT_SUPPORTED
    {0xC00000C3, 58},    // INVALID_NETWORK_RESPONSE -> ERROR_BAD_NET_RESP
    {0xC00000AC, 1722},  // PIPE_NOT_AVAILABLE -> RPC_S_SERVER_UNAVAILABLE
    {0xC000014B, 1722},  // PIPE_BROKEN
    {0xC00000B0, 1722},  // PIPE_DISCONNECTED
};

// Results a host returns from the account and policy calls, beyond the rows
// above.
constexpr Row ResultTable[] = {
    {0xC0000034, 2},     // OBJECT_NAME_NOT_FOUND -> ERROR_FILE_NOT_FOUND
    {0xC0000008, 6},     // INVALID_HANDLE -> ERROR_INVALID_HANDLE
    {0xC0000017, 8},     // NO_MEMORY -> ERROR_NOT_ENOUGH_MEMORY
    {0xC000000D, 87},    // INVALID_PARAMETER -> ERROR_INVALID_PARAMETER
    {0xC0000003, 87},    // INVALID_INFO_CLASS
    {0xC0000073, 1332},  // NONE_MAPPED -> ERROR_NONE_MAPPED
    {0xC00000DF, 1355},  // NO_SUCH_DOMAIN -> ERROR_NO_SUCH_DOMAIN
    {0xC0000151, 1376},  // NO_SUCH_ALIAS -> ERROR_NO_SUCH_ALIAS
    {0xC0000078, 1337},  // INVALID_SID -> ERROR_INVALID_SID
    {0xC000009A, 1450},  // INSUFFICIENT_RESOURCES -> ERROR_NO_SYSTEM_RESOURCES
};

constexpr std::uint32_t MidNotFound = 317;  // ERROR_MR_MID_NOT_FOUND

}  // namespace

std::uint32_t Win32StatusOfResult(std::uint32_t ntStatus) {
  if (ntStatus == 0) return 0;
  for (const Row& row : ResultTable) {
    if (row.NtStatus == ntStatus) return row.Win32;
  }
  for (const Row& row : Table) {
    if (row.NtStatus == ntStatus) return row.Win32;
  }
  return MidNotFound;
}

std::uint32_t Win32StatusOf(const CallFailure& failure, std::uint32_t fallback) {
  // The only object a connect or call opens by name is the service's pipe:
  // missing, its service is stopped. Unless the host's name itself was not
  // found by Samba's broadcast, which reports the same status, or the object
  // is a file.
  if (failure.NtStatus == ObjectNameNotFound) {
    switch (failure.Step) {
      case FailedStep::ConnectByNetBiosName: return 53;  // ERROR_BAD_NETPATH
      case FailedStep::File: return 2;                   // ERROR_FILE_NOT_FOUND
      case FailedStep::Connect:
      case FailedStep::Call: break;
    }
    return 1722;
  }
  for (const Row& row : Table) {
    if (row.NtStatus == failure.NtStatus) return row.Win32;
  }
  return fallback;
}

}  // namespace quorvex::samba
