// The Win32 backend's pieces, declared apart from <windows.h> so that the
// backend tests can reach the few decisions made here without the platform
// object around them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/platform.h"

namespace quorvex::win32 {

// The command line without the program name and the spaces after it. A
// quoted program name ends at its closing quote; an unquoted one at the first
// byte of 32 or below. Whatever follows (tabs, trailing spaces) is kept.
std::string CutProgramName(std::string_view commandLine);

// The reply buffer handed to IcmpSendEcho: one reply record plus 8 bytes.
// In a 64-bit build the record is 40 bytes, and anything shorter than 48 is
// refused with ERROR_INVALID_PARAMETER before a packet is sent.
std::uint32_t EchoReplyBufferSize();

// Turns what IcmpSendEcho left behind into one status. The echo helper
// reports some failures (timeouts on several systems) only through its
// return value and GetLastError, leaving the reply record zeroed; a zero
// status there would read as "answered", so it is never taken on a 0 return.
EchoReply DeriveEchoReply(std::uint32_t replyCount, std::uint32_t replyStatus, std::uint32_t replyRoundTripTime,
                          std::uint32_t lastError);

// The SMB2 dialect revision code (0x0311) that FILE_REMOTE_PROTOCOL_INFO's
// protocol and version fields stand for (WNNC_NET_SMB 3.1.1); 0 for another
// protocol, or a version that is no SMB2 or SMB3 dialect's.
std::uint16_t DialectOfRemoteProtocol(std::uint32_t protocol, std::uint16_t major, std::uint16_t minor,
                                      std::uint16_t revision);

std::unique_ptr<ConsoleService> MakeConsoleService();
std::unique_ptr<LookupService> MakeLookupService();
std::unique_ptr<EchoService> MakeEchoService();
std::unique_ptr<NetManagementService> MakeNetManagementService();
std::unique_ptr<UncFileService> MakeUncFileService();
std::unique_ptr<RegistryService> MakeRegistryService();
std::unique_ptr<HostAdminService> MakeHostAdminService();

}  // namespace quorvex::win32
