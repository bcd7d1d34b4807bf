// Files on the shares of a host, reached over the SMB2 session that already
// carries its RPC pipes: no second TCP connection, negotiation or logon. A
// share is connected once; each question is then one compound request that
// opens the path, asks and closes, in a single round trip.
#pragma once

#include <memory>
#include <optional>

#include "platform/platform.h"
#include "platform/posix/samba/smb_wire.h"

namespace quorvex::samba {

class ShareTrees {
 public:
  // Null when the talloc context that owns a session's first pipe holds no
  // SMB2 connection and logon, or when Samba's client library lacks one of
  // the calls used. Each request is bounded by callBoundSeconds.
  static std::unique_ptr<ShareTrees> Find(void* sessionMemory, unsigned callBoundSeconds);
  virtual ~ShareTrees() = default;

  virtual bool Exists(const smb::SharePath& path) = 0;
  virtual std::optional<DiskFreeSpace> FreeSpace(const smb::SharePath& path) = 0;
  // False once the connection underneath is gone.
  virtual bool Connected() = 0;
};

}  // namespace quorvex::samba
