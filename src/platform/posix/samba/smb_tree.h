// Files on the shares of a host, reached over the SMB2 session that already
// carries its RPC pipes: no second TCP connection, negotiation or logon. A
// share is connected once; each question is then one compound request that
// opens the path, asks and closes, in a single round trip.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "core/platform.h"
#include "platform/posix/samba/smb_wire.h"

struct tevent_context;

namespace quorvex::samba {

// Ends the SMB connection under a session's memory (the talloc context that
// owns its first pipe): every request pending on it fails at once and the
// socket is closed. A session whose request timed out is ended this way, so
// no later step can wait on a connection that already stalled.
void EndConnection(void* sessionMemory);

// What the SMB2 connection under a session's memory negotiated, ended or
// not; nothing for a connection of a protocol DialectOfProtocol does not know.
SmbConnectionFacts NegotiatedFacts(void* sessionMemory);

class ShareTrees {
 public:
  // Null when the talloc context that owns a session's first pipe holds no
  // SMB2 connection and logon, or when Samba's client library lacks one of
  // the calls used. Requests run on the session's event context; each tree
  // connect and each question is bounded by callBound and the run's deadline.
  // A question that runs out of time ends the connection (EndConnection).
  static std::unique_ptr<ShareTrees> Find(void* sessionMemory, tevent_context* ev, std::chrono::seconds callBound);
  virtual ~ShareTrees() = default;

  virtual bool Exists(const SharePath& path) = 0;
  virtual std::optional<DiskFreeSpace> FreeSpace(const SharePath& path) = 0;
  // The NTSTATUS of the last question that failed: the host's, or Samba's for
  // the transport (NT_STATUS_IO_TIMEOUT for a question out of time).
  virtual std::uint32_t LastStatus() const = 0;
  // False once the connection underneath is gone.
  virtual bool Connected() = 0;
};

}  // namespace quorvex::samba
