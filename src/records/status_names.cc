#include "records/status_names.h"

namespace quorvex::records {

namespace {

struct StatusRow {
  std::uint32_t Status;
  std::string_view Name;
};

// Win32, network management, RPC and Winsock codes share one number space;
// NTSTATUS codes all have the top bits set, so one table holds them all.
constexpr StatusRow StatusTable[] = {
    {2, "ERROR_FILE_NOT_FOUND"},
    {3, "ERROR_PATH_NOT_FOUND"},
    {5, "ERROR_ACCESS_DENIED"},
    {6, "ERROR_INVALID_HANDLE"},
    {8, "ERROR_NOT_ENOUGH_MEMORY"},
    {21, "ERROR_NOT_READY"},
    {50, "ERROR_NOT_SUPPORTED"},
    {51, "ERROR_REM_NOT_LIST"},
    {53, "ERROR_BAD_NETPATH"},
    {54, "ERROR_NETWORK_BUSY"},
    {58, "ERROR_BAD_NET_RESP"},
    {59, "ERROR_UNEXP_NET_ERR"},
    {64, "ERROR_NETNAME_DELETED"},
    {65, "ERROR_NETWORK_ACCESS_DENIED"},
    {67, "ERROR_BAD_NET_NAME"},
    {71, "ERROR_REQ_NOT_ACCEP"},
    {86, "ERROR_INVALID_PASSWORD"},
    {87, "ERROR_INVALID_PARAMETER"},
    {121, "ERROR_SEM_TIMEOUT"},
    {123, "ERROR_INVALID_NAME"},
    {124, "ERROR_INVALID_LEVEL"},
    {234, "ERROR_MORE_DATA"},
    {1060, "ERROR_SERVICE_DOES_NOT_EXIST"},
    {1203, "ERROR_NO_NET_OR_BAD_PATH"},
    {1219, "ERROR_SESSION_CREDENTIAL_CONFLICT"},
    {1225, "ERROR_CONNECTION_REFUSED"},
    {1231, "ERROR_NETWORK_UNREACHABLE"},
    {1232, "ERROR_HOST_UNREACHABLE"},
    {1236, "ERROR_CONNECTION_ABORTED"},
    {1311, "ERROR_NO_LOGON_SERVERS"},
    {1326, "ERROR_LOGON_FAILURE"},
    {1327, "ERROR_ACCOUNT_RESTRICTION"},
    {1330, "ERROR_PASSWORD_EXPIRED"},
    {1331, "ERROR_ACCOUNT_DISABLED"},
    {1385, "ERROR_LOGON_TYPE_NOT_GRANTED"},
    {1717, "RPC_S_UNKNOWN_IF"},
    {1722, "RPC_S_SERVER_UNAVAILABLE"},
    {1723, "RPC_S_SERVER_TOO_BUSY"},
    {1726, "RPC_S_CALL_FAILED"},
    {1727, "RPC_S_CALL_FAILED_DNE"},
    {1753, "EPT_S_NOT_REGISTERED"},
    {1909, "ERROR_ACCOUNT_LOCKED_OUT"},
    {2102, "NERR_NetNotStarted"},
    {2114, "NERR_ServerNotStarted"},
    {2138, "NERR_WkstaNotStarted"},
    {2310, "NERR_NetNameNotFound"},
    {10054, "WSAECONNRESET"},
    {10060, "WSAETIMEDOUT"},
    {10061, "WSAECONNREFUSED"},
    {10064, "WSAEHOSTDOWN"},
    {10065, "WSAEHOSTUNREACH"},
    {11001, "WSAHOST_NOT_FOUND"},
    {11002, "WSATRY_AGAIN"},
    {11003, "WSANO_RECOVERY"},
    {11004, "WSANO_DATA"},
    {11010, "IP_REQ_TIMED_OUT"},
    {0x80000005, "STATUS_BUFFER_OVERFLOW"},
    {0xC0000008, "STATUS_INVALID_HANDLE"},
    {0xC000000D, "STATUS_INVALID_PARAMETER"},
    {0xC000000F, "STATUS_NO_SUCH_FILE"},
    {0xC0000016, "STATUS_MORE_PROCESSING_REQUIRED"},
    {0xC0000017, "STATUS_NO_MEMORY"},
    {0xC0000022, "STATUS_ACCESS_DENIED"},
    {0xC0000033, "STATUS_OBJECT_NAME_INVALID"},
    {0xC0000034, "STATUS_OBJECT_NAME_NOT_FOUND"},
    {0xC000003A, "STATUS_OBJECT_PATH_NOT_FOUND"},
    {0xC000005E, "STATUS_NO_LOGON_SERVERS"},
    {0xC0000064, "STATUS_NO_SUCH_USER"},
    {0xC000006A, "STATUS_WRONG_PASSWORD"},
    {0xC000006D, "STATUS_LOGON_FAILURE"},
    {0xC000006E, "STATUS_ACCOUNT_RESTRICTION"},
    {0xC0000071, "STATUS_PASSWORD_EXPIRED"},
    {0xC0000072, "STATUS_ACCOUNT_DISABLED"},
    {0xC000009A, "STATUS_INSUFFICIENT_RESOURCES"},
    {0xC00000AC, "STATUS_PIPE_NOT_AVAILABLE"},
    {0xC00000B0, "STATUS_PIPE_DISCONNECTED"},
    {0xC00000B5, "STATUS_IO_TIMEOUT"},
    {0xC00000BB, "STATUS_NOT_SUPPORTED"},
    {0xC00000BE, "STATUS_BAD_NETWORK_PATH"},
    {0xC00000BF, "STATUS_NETWORK_BUSY"},
    {0xC00000C3, "STATUS_INVALID_NETWORK_RESPONSE"},
    {0xC00000C4, "STATUS_UNEXPECTED_NETWORK_ERROR"},
    {0xC00000C9, "STATUS_NETWORK_NAME_DELETED"},
    {0xC00000CA, "STATUS_NETWORK_ACCESS_DENIED"},
    {0xC00000CC, "STATUS_BAD_NETWORK_NAME"},
    {0xC00000D0, "STATUS_REQUEST_NOT_ACCEPTED"},
    {0xC000014B, "STATUS_PIPE_BROKEN"},
    {0xC000018D, "STATUS_TRUSTED_RELATIONSHIP_FAILURE"},
    {0xC000020C, "STATUS_CONNECTION_DISCONNECTED"},
    {0xC000020D, "STATUS_CONNECTION_RESET"},
    {0xC0000225, "STATUS_NOT_FOUND"},
    {0xC0000234, "STATUS_ACCOUNT_LOCKED_OUT"},
    {0xC0000236, "STATUS_CONNECTION_REFUSED"},
    {0xC000023C, "STATUS_NETWORK_UNREACHABLE"},
    {0xC000023D, "STATUS_HOST_UNREACHABLE"},
    {0xC000023E, "STATUS_PROTOCOL_UNREACHABLE"},
    {0xC000023F, "STATUS_PORT_UNREACHABLE"},
};

// What an echo call reports in place of a Winsock code of the same number.
constexpr StatusRow EchoStatusTable[] = {
    {11002, "IP_DEST_NET_UNREACHABLE"},
    {11003, "IP_DEST_HOST_UNREACHABLE"},
    {11010, "IP_REQ_TIMED_OUT"},
    {11050, "IP_GENERAL_FAILURE"},
};

template <std::size_t N>
std::string_view Find(const StatusRow (&table)[N], std::uint32_t status) {
  for (const StatusRow& row : table) {
    if (row.Status == status) return row.Name;
  }
  return {};
}

}  // namespace

std::string_view StatusName(std::int64_t status, std::string_view call) {
  if (status < INT32_MIN || status > static_cast<std::int64_t>(UINT32_MAX)) return {};
  const auto code = static_cast<std::uint32_t>(status);  // a sign-extended NTSTATUS wraps to its pattern
  if (call.substr(0, 4) == "Icmp") {
    if (const std::string_view name = Find(EchoStatusTable, code); !name.empty()) return name;
  }
  return Find(StatusTable, code);
}

}  // namespace quorvex::records
