// The small text rules of the SMB backend, kept apart from Samba so that they
// can be proved without a network: how a UNC path splits into its server and
// components, how the user's logon is read from the environment, how a
// registry value looks to an ANSI reader, and how a SID is written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform.h"

namespace quorvex::samba {

// A UNC path split into its server and the path components after it. Texts
// are still code page 437, as the core hands them over.
struct UncPath {
  std::string Server;
  std::vector<std::string> Components;
  bool TrailingSeparator = false;
};

// "\\SERVER", "\\SERVER\share\dir" or "\\SERVER\share\". Null for a text that
// does not start with two backslashes, names no server, or whose server text
// holds a "/" (which would move the URL's host boundary).
std::optional<UncPath> ParseUncPath(std::string_view cp437);

// The server of a UNC name as UTF-8 for Samba; accepts the name with or
// without its leading backslashes but never with a path after it.
std::optional<std::string> ServerNameOf(std::string_view uncName);

// Who the tool acts as, taken the way Samba's own command-line clients take
// it: USER in the forms "user", "DOMAIN\user", "user%password" (either
// separator, "/" for "\" too), PASSWD when USER carried no password.
struct Logon {
  std::string Domain;
  std::string User;
  std::string Password;
  bool HasPassword = false;
};

// userVar and passwdVar may be null (unset); fallbackUser is the login name.
Logon ParseLogon(const char* userVar, const char* passwdVar, const std::string& fallbackUser);

// The NetBIOS name this machine presents: its host name up to the first ".",
// upper case, at most 15 characters; a fixed name when there is none.
std::string WorkstationNameOf(std::string_view hostName);

// A text Samba's generated code handed over (UTF-8, null for none) as the
// core takes texts: code page 437, "" for none.
std::string Cp437OfUtf8(const char* utf8);

// A registry value as an ANSI reader sees it: string types (REG_SZ,
// REG_EXPAND_SZ, REG_MULTI_SZ) arrive as UTF-16LE and become code page 437
// byte for code unit, NULs kept; every other type is passed through.
std::string AnsiRegistryData(std::uint32_t type, const std::vector<std::uint8_t>& data);

// A security identifier in its parts: the revision, the 48-bit identifier
// authority and the sub-authorities (at most 15).
struct SidParts {
  std::uint8_t Revision = 1;
  std::uint64_t Authority = 0;
  std::vector<std::uint32_t> SubAuthorities;
};
inline constexpr std::size_t MaxSubAuthorities = 15;

// "S-1-5-32-544", as Windows writes a SID: an authority of 2^32 or more in
// twelve hexadecimal digits after "0x".
std::string SidText(const SidParts& sid);
// The SID a text names, written as SidText writes it (the authority in
// decimal or "0x" hexadecimal, "s-" too); nullopt for anything else,
// including a revision other than 1 and values out of their range.
std::optional<SidParts> ParseSid(std::string_view text);

}  // namespace quorvex::samba
