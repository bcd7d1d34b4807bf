// The small text rules of the SMB backend, kept apart from Samba so that they
// can be proved without a network: how a UNC path becomes a server name or an
// smb:// URL, how the user's logon is read from the environment, and how the
// counters of an SMB statvfs become the four counters of a disk query.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace quorvex::smb {

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

// smb://server/share/dir, every part UTF-8 and percent-encoded where the URL
// syntax would otherwise read it differently.
std::optional<std::string> SmbUrlOf(std::string_view uncPath);
std::string SmbUrlOf(const UncPath& path);

std::string PercentEncode(std::string_view utf8);

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

// statvfs over SMB: with noUnixExtensions the counters carry the Windows
// allocation units (frsize = sectors per cluster, bsize = bytes per sector);
// otherwise they are POSIX, blocks of frsize bytes.
struct SmbVolumeCounters {
  std::uint64_t BlockSize = 0;     // f_bsize
  std::uint64_t FragmentSize = 0;  // f_frsize
  std::uint64_t Blocks = 0;        // f_blocks
  std::uint64_t AvailableBlocks = 0;  // f_bavail
  bool NoUnixExtensions = false;
};
DiskFreeSpace DiskFreeSpaceOf(const SmbVolumeCounters& counters);

// A registry value as an ANSI reader sees it: string types (REG_SZ,
// REG_EXPAND_SZ, REG_MULTI_SZ) arrive as UTF-16LE and become code page 437
// byte for code unit, NULs kept; every other type is passed through.
std::string AnsiRegistryData(std::uint32_t type, const std::vector<std::uint8_t>& data);

}  // namespace quorvex::smb
