// The Linux services that stay on this machine: the console, the system
// resolver, the ICMP echo, and the command text. The SMB services live apart
// (smb_services.h); platform-posix.cc composes both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/platform.h"

namespace quorvex::posix {

// argv[1..] joined by single spaces, each converted from UTF-8 to code page
// 437; an empty argument or one holding a space or a tab is put back in
// double quotes, so the shell's word boundaries survive the re-splitting.
std::string CommandTextFromArguments(int argc, const char* const* argv);

std::unique_ptr<ConsoleService> OpenConsole();
// Writes all bytes to fd, riding out signals, short writes and a
// non-blocking descriptor; gives up on any other error.
void WriteAll(int fd, std::string_view bytes);
// The bytes that set a terminal's title: control characters dropped, the
// rest converted to UTF-8.
std::string TerminalTitleSequence(const std::string& title);
std::unique_ptr<LookupService> OpenLookup();
std::unique_ptr<EchoService> OpenEcho();

// The outcome of one received ICMP message for the echo request that carried
// `identifier` and `sequence` to `destination`: nullopt when the message is
// about something else. An echo reply gives status 0; an error message that
// quotes our request gives its IP_* status.
struct IcmpMatch {
  std::uint16_t Identifier = 0;
  std::uint16_t Sequence = 0;
  Ipv4Address Destination{};
  // A datagram ICMP socket hands over the ICMP message alone and rewrites the
  // identifier itself; a raw socket hands over the IP header too and sees
  // every ICMP message of the machine.
  bool WithIpHeader = true;
  bool CheckIdentifier = true;
};
std::optional<std::int32_t> MatchIcmpMessage(const IcmpMatch& want, const std::uint8_t* data, std::size_t size,
                                             const Ipv4Address& source);

// IP_* status of an ICMP error message type and code.
std::int32_t StatusOfIcmpError(std::uint8_t type, std::uint8_t code);

// In a forked child: closes its copies of the descriptors of the file locks
// the parent holds (core/file_lock.h), which would otherwise keep the
// locks alive after the parent's death. The parent's locks stay held.
void CloseFileLocksInChild();

}  // namespace quorvex::posix
