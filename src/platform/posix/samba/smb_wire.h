// The few SMB2 request bodies the share checks send over an established
// session, and the one reply they decode, kept apart from Samba so that the
// byte layout can be proved without a network. Each check is one compound
// request: open the path, ask (optionally), close the handle the open made.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform.h"

namespace quorvex::samba {

using WireBytes = std::vector<std::uint8_t>;

// A UNC path as the share checks address it: the share's name (UTF-8, for
// the tree connect) and the path inside it (UTF-16, empty for the share's
// root). Null when the path names no share.
struct SharePath {
  std::string Server;  // code page 437, as the core hands it over
  std::string Share;
  std::u16string Path;
};
std::optional<SharePath> SharePathOf(std::string_view cp437Unc);

// Access asked for when opening: enough to read attributes, nothing more.
inline constexpr std::uint32_t ReadAttributesAccess = 0x80;
// The fixed part of CREATE (open an existing file or directory, shared for
// every access) whose name of nameBytes bytes follows right after it.
WireBytes CreateBody(std::uint32_t desiredAccess, std::uint16_t nameBytes);
// The name as CREATE carries it: UTF-16LE, and never an empty buffer (the
// protocol wants at least one byte even for the root, whose length is 0).
WireBytes CreateName(std::u16string_view path);
// QUERY_INFO of FileFsFullSizeInformation on the handle the preceding CREATE
// of the same compound opened.
WireBytes QueryFsFullSizeBody();
// CLOSE of the handle the preceding CREATE of the same compound opened.
WireBytes CloseRelatedBody();
// The one zero byte sent as the variable part of a request that has none.
inline constexpr std::uint8_t NoDynamicPart[1] = {0};

// The counters of a FileFsFullSizeInformation reply, as a disk query reports
// them: free clusters are those available to the caller. Null when the
// reply is too short.
std::optional<DiskFreeSpace> DecodeFsFullSize(const std::uint8_t* data, std::size_t size);

}  // namespace quorvex::samba
