// DCE/RPC over named pipes through Samba's client library: one SMB session
// per server name for the whole run, with the workstation, server and
// registry pipes opened inside it as they are first needed.
//
// Bounds: establishing a host's session (name resolution, TCP connect, SMB
// negotiation and session setup, first pipe open and bind) may take at most
// ConnectBoundSeconds; opening a further pipe on it the same; each call at
// most CallBoundSeconds (the library ends a stalled call about a second after
// that and the session is then dead).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/samba/smb_text.h"
#include "platform/posix/samba/smb_wire.h"

namespace quorvex::samba {

inline constexpr unsigned ConnectBoundSeconds = 5;
inline constexpr unsigned CallBoundSeconds = 10;

// The system resolver's first IPv4 address of a name (UTF-8), looked up in
// process: Samba's own lookup forks a helper for it. Empty when the resolver
// has none; Samba then resolves the name itself, ending with a NetBIOS
// broadcast.
std::string SystemAddressOf(const std::string& name);

// From here on, the log messages of Samba's libraries go nowhere: some are
// printed whatever the log level, and the tool's output is its lines only.
void DropLogMessages();

enum class RpcInterface { Workstation = 0, Server = 1, Registry = 2 };

class RpcClient {
 public:
  // Null when Samba's client cannot be set up at all.
  static std::unique_ptr<RpcClient> Open(const smb::Logon& logon, const std::string& workstation);
  virtual ~RpcClient() = default;

  // Sends one request stub to the interface on the named server (UTF-8) and
  // returns the reply stub, or nullopt when the host cannot be reached, the
  // call faults or the transport fails. A session that died is replaced on
  // the next call; a failed connect is tried afresh on the next call.
  //
  // Sessions are numbered from 1. With requiredSession non-zero the call is
  // made only in that session and fails once it is gone (a handle means
  // nothing in another session); usedSession, when given, receives the
  // number of the session that carried the call.
  virtual std::optional<std::vector<std::uint8_t>> Call(const std::string& server, RpcInterface iface,
                                                        std::uint16_t opnum,
                                                        const std::vector<std::uint8_t>& request,
                                                        std::uint64_t requiredSession = 0,
                                                        std::uint64_t* usedSession = nullptr) = 0;

  // Files on a share of the server named in the path, asked over the same
  // session as the calls (one is made when there is none yet); each request
  // is bounded like a call. Any failure, the host's or the transport's,
  // answers false or nullopt.
  virtual bool FileExists(const smb::SharePath& path) = 0;
  virtual std::optional<DiskFreeSpace> FreeSpace(const smb::SharePath& path) = 0;
};

}  // namespace quorvex::samba
