#include "platform/posix/samba/win32_status.h"

#include <gtest/gtest.h>

extern "C" {
#include <core/ntstatus.h>
}

namespace quorvex::samba {
namespace {

// Samba's own status constants, so a wrong hex digit in the table shows.
TEST(Win32Status, EachFailureGetsTheCodeWindowsGives) {
  struct Case {
    NTSTATUS Status;
    FailedStep Step;
    std::uint32_t Fallback;
    std::uint32_t Want;
  } cases[] = {
      {NT_STATUS_ACCESS_DENIED, FailedStep::Connect, 53, 5},
      {NT_STATUS_LOGON_FAILURE, FailedStep::Connect, 53, 1326},
      {NT_STATUS_ACCOUNT_LOCKED_OUT, FailedStep::Connect, 53, 1909},
      {NT_STATUS_OBJECT_NAME_NOT_FOUND, FailedStep::Connect, 53, 1722},  // the service's pipe is missing
      {NT_STATUS_OBJECT_NAME_NOT_FOUND, FailedStep::ConnectByNetBiosName, 1722, 53},
      {NT_STATUS_CONNECTION_REFUSED, FailedStep::Connect, 53, 1225},
      {NT_STATUS_HOST_UNREACHABLE, FailedStep::Connect, 53, 1232},
      {NT_STATUS_NETWORK_UNREACHABLE, FailedStep::Connect, 53, 1231},
      {NT_STATUS_IO_TIMEOUT, FailedStep::Call, 1722, 121},
      {NT_STATUS_BAD_NETWORK_NAME, FailedStep::Connect, 53, 67},
      {NT_STATUS_CONNECTION_RESET, FailedStep::Call, 1722, 64},
      {NT_STATUS_PIPE_NOT_AVAILABLE, FailedStep::Connect, 53, 1722},
      {NT_STATUS_RPC_PROTOCOL_ERROR, FailedStep::Call, 1722, 1722},  // no closer code: the old one
      {NT_STATUS_OK, FailedStep::Call, 53, 53},                      // failed without a status
      // The admin$ questions: a missing file is a file, not a stopped service.
      {NT_STATUS_OBJECT_NAME_NOT_FOUND, FailedStep::File, 53, 2},
      {NT_STATUS_OBJECT_PATH_NOT_FOUND, FailedStep::File, 53, 3},
      {NT_STATUS_BAD_NETWORK_NAME, FailedStep::File, 53, 67},
      {NT_STATUS_ACCESS_DENIED, FailedStep::File, 53, 5},
      {NT_STATUS_IO_TIMEOUT, FailedStep::File, 53, 121},
      {NT_STATUS_CONNECTION_DISCONNECTED, FailedStep::File, 53, 64},
      {NT_STATUS_NOT_SUPPORTED, FailedStep::File, 53, 50},
      {NT_STATUS_INVALID_NETWORK_RESPONSE, FailedStep::File, 53, 58},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Win32StatusOf({NT_STATUS_V(c.Status), c.Step}, c.Fallback), c.Want) << std::hex << NT_STATUS_V(c.Status);
  }
}

// What a host returns as a call's result is translated as Windows does for
// its callers: the step of a transport failure plays no part, a missing
// object is a missing file, and a status without a code is 317.
TEST(Win32Status, ResultsOfAccountAndPolicyCalls) {
  struct Case {
    NTSTATUS Status;
    std::uint32_t Want;
  } cases[] = {
      {NT_STATUS_OK, 0},
      {NT_STATUS_ACCESS_DENIED, 5},
      {NT_STATUS_INVALID_HANDLE, 6},
      {NT_STATUS_INVALID_PARAMETER, 87},
      {NT_STATUS_INVALID_INFO_CLASS, 87},
      {NT_STATUS_NONE_MAPPED, 1332},
      {NT_STATUS_NO_SUCH_DOMAIN, 1355},
      {NT_STATUS_NO_SUCH_ALIAS, 1376},
      {NT_STATUS_INVALID_SID, 1337},
      {NT_STATUS_OBJECT_NAME_NOT_FOUND, 2},
      {NT_STATUS_LOGON_FAILURE, 1326},
      {NT_STATUS_RPC_PROTOCOL_ERROR, 317},
      {NT_STATUS_SOME_NOT_MAPPED, 317},  // a warning, never asked about
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Win32StatusOfResult(NT_STATUS_V(c.Status)), c.Want) << std::hex << NT_STATUS_V(c.Status);
  }
}

}  // namespace
}  // namespace quorvex::samba
