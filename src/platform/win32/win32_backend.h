// The Win32 backend's pieces, declared apart from <windows.h> so that the
// backend tests can reach the few decisions made here without the platform
// object around them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

// WideCharToMultiByte(CP_ACP) of exactly these code units: the seam's texts
// are the ANSI code page's, like the A calls the other services make.
std::string AnsiOfWide(std::u16string_view text);
// The same for a string that may be null, which reads as empty.
std::string AnsiOfWide(const char16_t* text);
// MultiByteToWideChar(CP_ACP) for the W calls; empty when the text is empty
// or cannot be converted. No call may be made with an empty server name: the
// API reads it as the local computer and would answer for the wrong machine.
std::u16string WideOfAnsi(const std::string& text);

// Milliseconds since 1970 of a TIME_OF_DAY_INFO. tod_elapsedt is unsigned
// seconds, which stays right past January 2038.
std::int64_t TimeOfDayMs(std::uint32_t elapsedSeconds, std::uint32_t hundredths);

// Milliseconds since 1970 halfway between two FILETIME readings taken around
// a call, which is the best guess at the instant the host read its clock.
std::int64_t FileTimeMidpointMs(std::uint64_t before, std::uint64_t after);

// What a host said of one SID, whether from LsaLookupSids or a local group
// member record. A use that names no account (SidTypeInvalid, SidTypeUnknown,
// or no SID_NAME_USE value at all) becomes SidTypeUnknown with no names,
// since hosts put the SID's own text or nothing in the name of a SID they
// cannot translate, and neither is an account name.
AccountInfo TranslatedAccount(std::string sid, std::uint32_t use, std::string domain, std::string name);

// A LOCALGROUP_MEMBERS_INFO_2: "DOMAIN\name", or a bare name for an account
// of no domain ("Everyone").
AccountInfo MemberAccount(std::string sid, std::uint32_t sidUsage, std::string_view domainAndName);

// One LSA_TRANSLATED_NAME. Its domain index points into the referenced
// domains' names; -1 (no domain) or any index past them gives no domain.
AccountInfo LookedUpAccount(std::string sid, std::uint32_t use, std::string name, std::int32_t domainIndex,
                            const std::vector<std::string>& domainNames);

// Whether LsaLookupSids answered: STATUS_SOME_NOT_MAPPED and
// STATUS_NONE_MAPPED say that SIDs are unknown to the host, not that the
// lookup failed.
bool LookupAnswered(std::uint32_t ntStatus);

// The fields of a service's listing or status and its QUERY_SERVICE_CONFIGW
// that a ServiceInfo keeps. Null strings read as empty.
struct ServiceRecords {
  const char16_t* Name = nullptr;
  const char16_t* DisplayName = nullptr;
  std::uint32_t CurrentState = 0;
  std::uint32_t StartType = 0;
  const char16_t* StartName = nullptr;
};
ServiceInfo ServiceOfRecords(const ServiceRecords& records);

// Whether a failure to open or read one listed service means that it went
// away after the listing (deleted, or marked for deletion).
bool ServiceVanished(std::uint32_t lastError);

// One page of a listing that resumes by handle (EnumServicesStatusExW,
// NetLocalGroupGetMembers), and what comes next. A page that says there is
// more but brought nothing, and cannot be helped by a larger buffer, would
// repeat for ever; so would one that left the resume handle where it was
// (Wine's service manager ignores the handle). Either fails.
struct ListingPage {
  std::uint32_t Status = 0;
  std::uint32_t EntriesRead = 0;
  bool Resumed = false;           // the resume handle moved on
  std::uint32_t BytesNeeded = 0;  // for a listing into the caller's buffer
  std::uint32_t BufferBytes = 0;
};
enum class PageStep { Done, Next, Grow, Fail };
PageStep NextPageStep(const ListingPage& page, std::uint32_t maxBufferBytes);

std::unique_ptr<ConsoleService> MakeConsoleService();
std::unique_ptr<LookupService> MakeLookupService();
std::unique_ptr<EchoService> MakeEchoService();
std::unique_ptr<NetManagementService> MakeNetManagementService();
std::unique_ptr<UncFileService> MakeUncFileService();
std::unique_ptr<RegistryService> MakeRegistryService();
std::unique_ptr<HostAdminService> MakeHostAdminService();

}  // namespace quorvex::win32
