// DCE/RPC over named pipes through Samba's client library: one SMB session
// per server name for the whole run, with each interface's pipe (workstation,
// server, registry, service control, accounts, policy) opened inside it once,
// when it is first needed.
//
// Bounds, each a deadline the event loop enforces and each cut short by the
// run's deadline (run_clock.h): establishing a host's session (NetBIOS name
// resolution, TCP connect, SMB negotiation and session setup, first pipe open
// and bind) at most ConnectBound; opening a further pipe on it the same; each
// call and each share question at most CallBound. A session whose request ran
// out of time is ended, and the next step makes a new one.
//
// One wait is beyond the event loop's reach: with a Kerberos ticket, Samba
// asks the KDC for the service ticket inside gss_init_sec_context, a blocking
// call made from gensec's update step; the Kerberos library's own timeouts
// bound it, not these deadlines.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/platform.h"
#include "platform/posix/samba/smb_text.h"
#include "platform/posix/samba/smb_wire.h"
#include "platform/posix/samba/win32_status.h"

namespace quorvex::samba {

inline constexpr std::chrono::seconds ConnectBound{5};
inline constexpr std::chrono::seconds CallBound{10};

// The system resolver's first IPv4 address of a name (UTF-8), looked up in
// process and bounded (bounded_lookup.h): Samba's own lookup forks a helper
// for it. Empty when the resolver has none; Samba then tries a NetBIOS
// broadcast, within the connect's bound.
std::string SystemAddressOf(const std::string& name);

enum class RpcInterface { Workstation, Server, Registry, ServiceControl, Accounts, Policy };
inline constexpr std::size_t RpcInterfaceCount = 6;

// The host's clock as the NEGOTIATE response of a session carried it, and
// ours just after that response was read.
struct NegotiatedClock {
  std::uint64_t ServerFileTime = 0;  // 0 when the host sent none
  std::int64_t LocalMs = 0;          // milliseconds since 1970
};

// Requests made one after another on one interface's pipe while the caller
// goes on with other calls: the pool sends what the chain names, on its
// event loop, which turns whenever any wait of the pool turns it. Each
// request is bounded as a call, the pipe's open as a connect.
class CallChain {
 public:
  // A request: the opnum and the call's structure (gen_ndr) of the
  // interface's table, its in part filled. No call: the chain has ended.
  struct Request {
    std::uint16_t Opnum = 0;
    void* Call = nullptr;
  };
  virtual ~CallChain() = default;
  virtual Request First() = 0;
  // The last request came back, its out part filled under ReplyMemory.
  virtual Request Answered() = 0;
  // The last request could not be made or did not come back; the chain ends.
  virtual void Failed(const CallFailure& failure) = 0;
  // Where replies are allocated (a talloc context).
  virtual void* ReplyMemory() = 0;
};

class SessionPool {
 public:
  // Null when Samba's client cannot be set up at all, or the loaded Samba is
  // not one this client can use (samba_abi.h).
  static std::unique_ptr<SessionPool> Open(const Logon& logon, const std::string& workstation);
  // Loads the security modules Open would (a process does so once) without
  // opening anything: a process that forks workers calls it first, so they
  // inherit the modules instead of each loading them again.
  static void LoadModules();
  virtual ~SessionPool() = default;

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
                                                        std::uint16_t opnum, const std::vector<std::uint8_t>& request,
                                                        std::uint64_t requiredSession = 0,
                                                        std::uint64_t* usedSession = nullptr) = 0;

  // The same for a call marshalled by Samba's generated code: `call` is the
  // call's structure (gen_ndr) of the interface's table, its in part filled;
  // the out part is allocated under replyMemory (a talloc context). True when
  // the call went and came back; the call's own result is in its structure.
  virtual bool Invoke(const std::string& server, RpcInterface iface, std::uint16_t opnum, void* call, void* replyMemory,
                      std::uint64_t requiredSession = 0, std::uint64_t* usedSession = nullptr) = 0;

  // Starts the chain on the interface's pipe of the server's session (made
  // first, and waited for, when there is none), one chain a server and
  // interface at a time. A chain that cannot start has Failed called now.
  virtual void StartChain(const std::string& server, RpcInterface iface, std::unique_ptr<CallChain> chain) = 0;
  // Turns the loop until the server's chain on the interface has ended, and
  // hands it back; null when none was started. A chain whose request ran
  // out of time or lost its connection ends the session, as a call would.
  virtual std::unique_ptr<CallChain> FinishChain(const std::string& server, RpcInterface iface) = 0;

  // The clock of the server's live session, made (with the server pipe)
  // when there is none; a ServerFileTime of 0 when the host sent no time or
  // the connect never showed the response; nullopt when no session can be
  // made (LastFailure tells why).
  virtual std::optional<NegotiatedClock> Clock(const std::string& server) = 0;

  // Files on a share of the server named in the path, asked over the same
  // session as the calls (one is made when there is none yet); each request
  // is bounded like a call. Any failure, the host's or the transport's,
  // answers false or nullopt, and LastFailure tells it.
  virtual bool FileExists(const SharePath& path) = 0;
  virtual std::optional<DiskFreeSpace> FreeSpace(const SharePath& path) = 0;

  // What Samba said of the last call or share question that failed.
  virtual CallFailure LastFailure() const = 0;

  // What the connection of the server's session negotiated: its live one,
  // or else the last one that ended; nothing when it never had one. Never
  // connects.
  virtual SmbConnectionFacts ConnectionFacts(const std::string& server) = 0;
};

}  // namespace quorvex::samba
