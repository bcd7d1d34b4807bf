#include "platform/posix/samba/session_pool.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <iterator>

#include "core/encoding.h"
#include "platform/posix/bounded_lookup.h"
#include "platform/posix/run_clock.h"
#include "platform/posix/samba/credentials.h"
#include "platform/posix/samba/samba_abi.h"
#include "platform/posix/samba/smb_tree.h"

extern "C" {
#include <core/ntstatus.h>
#include <dcerpc.h>
#include <param.h>
#include <tevent.h>
}

namespace quorvex::samba {
namespace {

// How long an abandoned request may take to see its connection end; it
// takes one or two turns of the loop.
constexpr std::chrono::milliseconds AbandonDrain{200};

// The reply came in big-endian NDR.
constexpr std::uint32_t ReplyBigEndian = 1U << 0;

// One row an interface, in the order of RpcInterface.
struct InterfaceRow {
  const ndr_interface_table& (*Table)();
  const char* Pipe;
};
constexpr InterfaceRow Interfaces[] = {
    {&WorkstationInterface, "\\pipe\\wkssvc"}, {&ServerInterface, "\\pipe\\srvsvc"},
    {&RegistryInterface, "\\pipe\\winreg"},    {&ServiceControlInterface, "\\pipe\\svcctl"},
    {&AccountsInterface, "\\pipe\\samr"},      {&PolicyInterface, "\\pipe\\lsarpc"},
};
static_assert(std::size(Interfaces) == RpcInterfaceCount, "a row for every interface");

const ndr_interface_table& TableOf(RpcInterface iface) { return Interfaces[static_cast<std::size_t>(iface)].Table(); }
const char* PipeOf(RpcInterface iface) { return Interfaces[static_cast<std::size_t>(iface)].Pipe; }

std::int64_t WallClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Notes the wall clock when the NEGOTIATE response of a connect came in: the
// library keeps the host's time from it but not when it came, and goes on to
// the logon (which may take milliseconds of Kerberos) within the same turn of
// the loop. So the time the loop last woke is kept, and taken for the turn
// after which the connection first shows a negotiated protocol.
class NegotiateWatch {
 public:
  NegotiateWatch(tevent_context* ev, void* sessionMemory) : ev_(ev), memory_(sessionMemory) {
    tevent_get_trace_callback(ev_, &previous_, &previousData_);
    tevent_set_trace_callback(ev_, &Woke, this);
  }
  NegotiateWatch(const NegotiateWatch&) = delete;
  NegotiateWatch& operator=(const NegotiateWatch&) = delete;
  ~NegotiateWatch() { tevent_set_trace_callback(ev_, previous_, previousData_); }

  void Look() {
    if (clock_) return;
    const SmbCalls* calls = LoadedSmbCalls();
    if (calls == nullptr) return;
    SessionParts parts = FindSessionParts(memory_);
    if (parts.Conn == nullptr || calls->Protocol(parts.Conn) == 0) return;
    clock_ = NegotiatedClock{calls->ServerSystemTime(parts.Conn), wokeMs_ != 0 ? wokeMs_ : WallClockMs()};
  }

  std::optional<NegotiatedClock> Clock() const { return clock_; }

 private:
  static void Woke(tevent_trace_point point, void* data) {
    auto* self = static_cast<NegotiateWatch*>(data);
    if (point == TEVENT_TRACE_AFTER_WAIT && !self->clock_) self->wokeMs_ = WallClockMs();
    if (self->previous_ != nullptr) self->previous_(point, self->previousData_);
  }

  tevent_context* ev_;
  void* memory_;
  tevent_trace_callback_t previous_ = nullptr;
  void* previousData_ = nullptr;
  std::int64_t wokeMs_ = 0;
  std::optional<NegotiatedClock> clock_;
};

void MarkExpired(tevent_context*, tevent_timer*, timeval, void* data) { *static_cast<bool*>(data) = true; }

// Turns the event loop until `finished` holds or the deadline passes; a
// tevent timer ends the wait, so every socket, resolver child and timer of
// the pending request keeps being served meanwhile. False at the deadline.
template <typename Finished>
bool RunUntil(tevent_context* ev, posix::SteadyClock::time_point deadline, Finished finished) {
  if (finished()) return true;
  unsigned ms = posix::MillisecondsUntil(deadline);
  if (ms == 0) return false;
  bool expired = false;
  // tevent frees a timer once it has fired; a throwaway parent keeps the
  // cleanup the same whether it fired or not.
  TallocPtr<> owner = NewTalloc();
  tevent_add_timer(ev, owner.get(), tevent_timeval_current_ofs(ms / 1000, (ms % 1000) * 1000), &MarkExpired, &expired);
  while (!finished() && !expired) {
    if (tevent_loop_once(ev) != 0) break;
  }
  return finished();
}

timeval TimevalOf(posix::SteadyClock::time_point deadline) {
  unsigned ms = posix::MillisecondsUntil(deadline);
  return tevent_timeval_current_ofs(ms / 1000, (ms % 1000) * 1000);
}

}  // namespace

std::string SystemAddressOf(const std::string& name) {
  in_addr literal{};
  if (inet_pton(AF_INET, name.c_str(), &literal) == 1) return name;
  std::optional<Ipv4Address> address = posix::BoundedAddressOf(name);
  if (!address) return {};
  char text[INET_ADDRSTRLEN] = {};
  return inet_ntop(AF_INET, address->data(), text, sizeof text) != nullptr ? text : "";
}

namespace {

class SambaSessionPool;
struct Session;

// A pipe being opened while other calls go on, for the chains that wait for
// it. Its request and its bound's timer live in the session's memory.
struct PipeOpening {
  SambaSessionPool* Pool = nullptr;
  Session* On = nullptr;
  RpcInterface Iface = RpcInterface::Workstation;
  composite_context* Request = nullptr;  // null when none is pending
  TallocPtr<> Bound;                     // owns the timer of the open's bound
};

struct Session {
  explicit Session(TALLOC_CTX* parent) : Owner(NewTalloc(parent)), Memory(Owner.get()) {}

  TallocPtr<> Owner;  // owns the binding and every pipe; Trees go first
  TALLOC_CTX* Memory;
  dcerpc_binding* Binding = nullptr;
  std::array<dcerpc_pipe*, RpcInterfaceCount> Pipes{};
  std::optional<NegotiatedClock> Clock;
  std::uint64_t Id = 0;
  std::string Server;
  std::unique_ptr<ShareTrees> Trees;  // made on the first share question
  bool TreesTried = false;
  std::array<PipeOpening, RpcInterfaceCount> Opening{};
};

// A chain and where it stands. The request in flight is freed before the
// chain whose reply memory it writes into.
struct ChainRun {
  std::unique_ptr<CallChain> Chain;
  TallocPtr<> InFlight;
  SambaSessionPool* Pool = nullptr;
  std::string Server;
  RpcInterface Iface = RpcInterface::Workstation;
  Session* On = nullptr;
  bool WaitingForPipe = false;
  bool Ended = false;
  bool EndsSession = false;  // ran out of time or lost the connection
};

class SambaSessionPool : public SessionPool {
 public:
  SambaSessionPool(TallocPtr<> memory, tevent_context* ev, loadparm_context* lp, cli_credentials* creds)
      : memory_(std::move(memory)), ev_(ev), lp_(lp), creds_(creds) {}

  ~SambaSessionPool() override {
    // Chains first: their requests sit on the sessions' pipes.
    chains_.clear();
    live_.clear();
    retired_.clear();
  }

  std::optional<std::vector<std::uint8_t>> Call(const std::string& server, RpcInterface iface, std::uint16_t opnum,
                                                const std::vector<std::uint8_t>& request, std::uint64_t requiredSession,
                                                std::uint64_t* usedSession) override {
    std::optional<std::vector<std::uint8_t>> reply;
    bool ok = RunCall(
        server, iface, requiredSession, usedSession,
        [&](TALLOC_CTX* scratch, dcerpc_binding_handle* h) {
          return dcerpc_binding_handle_raw_call_send(scratch, ev_, h, nullptr, opnum, 0, request.data(),
                                                     request.size());
        },
        [&](tevent_req* req, TALLOC_CTX* scratch) {
          std::uint8_t* out = nullptr;
          std::size_t outLength = 0;
          std::uint32_t outFlags = 0;
          NTSTATUS status = dcerpc_binding_handle_raw_call_recv(req, scratch, &out, &outLength, &outFlags);
          if (NT_STATUS_IS_OK(status) && (outFlags & ReplyBigEndian) == 0) reply.emplace(out, out + outLength);
          return status;
        });
    // A reply in big-endian NDR, which the stub decoders do not read, fails
    // without a status.
    if (ok && !reply) Failed(0, FailedStep::Call);
    return reply;
  }

  bool Invoke(const std::string& server, RpcInterface iface, std::uint16_t opnum, void* call, void* replyMemory,
              std::uint64_t requiredSession, std::uint64_t* usedSession) override {
    return RunCall(
        server, iface, requiredSession, usedSession,
        [&](TALLOC_CTX* scratch, dcerpc_binding_handle* h) {
          return dcerpc_binding_handle_call_send(scratch, ev_, h, nullptr, &TableOf(iface), opnum, replyMemory, call);
        },
        [](tevent_req* req, TALLOC_CTX*) { return dcerpc_binding_handle_call_recv(req); });
  }

  void StartChain(const std::string& server, RpcInterface iface, std::unique_ptr<CallChain> chain) override {
    FinishChain(server, iface);  // one chain a server and interface: an earlier one is waited for
    auto fresh = std::make_unique<ChainRun>();
    ChainRun& run = *fresh;
    run.Chain = std::move(chain);
    run.Pool = this;
    run.Server = server;
    run.Iface = iface;
    chains_.push_back(std::move(fresh));

    auto live = live_.find(server);
    if (live == live_.end()) {
      // No session to go on beside: made now, with the chain's pipe.
      Session* made = nullptr;
      if (PipeFor(server, iface, made) == nullptr) return EndChain(run, lastFailure_, false);
      run.On = made;
      return Send(run, run.Chain->First());
    }
    run.On = live->second.get();
    if (run.On->Pipes[static_cast<std::size_t>(iface)] != nullptr) return Send(run, run.Chain->First());
    run.WaitingForPipe = true;
    OpenAside(*run.On, iface);
  }

  std::unique_ptr<CallChain> FinishChain(const std::string& server, RpcInterface iface) override {
    auto found = std::find_if(chains_.begin(), chains_.end(),
                              [&](const auto& run) { return run->Server == server && run->Iface == iface; });
    if (found == chains_.end()) return nullptr;
    ChainRun& run = **found;
    if (!RunUntil(ev_, posix::WaitDeadline(posix::RunBudget), [&run] { return run.Ended; })) {
      run.InFlight.reset();
      EndChain(run, {NT_STATUS_V(NT_STATUS_IO_TIMEOUT), FailedStep::Call}, true);
    }
    if (run.EndsSession) {
      auto live = live_.find(server);
      if (live != live_.end() && live->second.get() == run.On) Retire(server);
    }
    std::unique_ptr<CallChain> chain = std::move(run.Chain);
    chains_.erase(found);
    return chain;
  }

  std::optional<NegotiatedClock> Clock(const std::string& server) override {
    Session* session = nullptr;
    if (auto found = live_.find(server); found != live_.end()) {
      session = found->second.get();
    } else if (PipeFor(server, RpcInterface::Server, session) == nullptr) {
      return std::nullopt;
    }
    return session->Clock.value_or(NegotiatedClock{});
  }

  bool FileExists(const SharePath& path) override {
    return AskShare(path, [&](ShareTrees& trees) { return trees.Exists(path); }).value_or(false);
  }

  std::optional<DiskFreeSpace> FreeSpace(const SharePath& path) override {
    return AskShare(path, [&](ShareTrees& trees) { return trees.FreeSpace(path); }).value_or(std::nullopt);
  }

  CallFailure LastFailure() const override { return lastFailure_; }

  SmbConnectionFacts ConnectionFacts(const std::string& server) override {
    if (auto found = live_.find(server); found != live_.end()) return NegotiatedFacts(found->second->Memory);
    for (auto retired = retired_.rbegin(); retired != retired_.rend(); ++retired) {
      if ((*retired)->Server == server) return NegotiatedFacts((*retired)->Memory);
    }
    return {};
  }

 private:
  // A share question needs only the session, not a pipe; with no session yet
  // one is made with the registry pipe, which a full check opens next anyway.
  // A question that fails leaves its status in lastFailure_; one that fails
  // to get a session, the connect's.
  template <typename Question>
  auto AskShare(const SharePath& path, Question question)
      -> std::optional<decltype(question(std::declval<ShareTrees&>()))> {
    std::string server = Cp437ToUtf8(path.Server);
    Session* session = nullptr;
    if (auto found = live_.find(server); found != live_.end()) {
      session = found->second.get();
    } else if (PipeFor(server, RpcInterface::Registry, session) == nullptr) {
      return std::nullopt;
    }
    if (!session->TreesTried) {
      session->TreesTried = true;
      session->Trees = ShareTrees::Find(session->Memory, ev_, CallBound);
    }
    if (!session->Trees) return Failed(NT_STATUS_V(NT_STATUS_NOT_SUPPORTED), FailedStep::File);
    auto answer = question(*session->Trees);
    if (!answer) Failed(session->Trees->LastStatus(), FailedStep::File);
    if (!session->Trees->Connected()) Retire(server);
    return answer;
  }

  // One request on the interface's pipe, bounded by CallBound and the run's
  // deadline: `send` starts it on the event loop, `receive` takes its answer
  // in. False (with the status in lastFailure_) when it could not be made or
  // failed; a session whose request ran out of time or whose connection went
  // is retired.
  template <typename Send, typename Receive>
  bool RunCall(const std::string& server, RpcInterface iface, std::uint64_t requiredSession, std::uint64_t* usedSession,
               Send send, Receive receive) {
    if (requiredSession != 0) {
      auto found = live_.find(server);
      if (found == live_.end() || found->second->Id != requiredSession) {
        Failed(0, FailedStep::Call);
        return false;
      }
    }
    Session* session = nullptr;
    dcerpc_pipe* pipe = PipeFor(server, iface, session);
    if (pipe == nullptr) return false;
    if (usedSession != nullptr) *usedSession = session->Id;

    TallocPtr<> scratch = NewTalloc(memory_.get());
    NTSTATUS status = NT_STATUS_IO_TIMEOUT;
    posix::SteadyClock::time_point deadline = posix::WaitDeadline(CallBound);
    if (posix::MillisecondsUntil(deadline) > 0) {
      tevent_req* req = send(scratch.get(), pipe->binding_handle);
      if (req == nullptr || !tevent_req_set_endtime(req, ev_, TimevalOf(deadline))) {
        status = NT_STATUS_NO_MEMORY;
      } else {
        status = tevent_req_poll(req, ev_) ? receive(req, scratch.get()) : NT_STATUS_INTERNAL_ERROR;
      }
    }
    if (!NT_STATUS_IS_OK(status)) Failed(NT_STATUS_V(status), FailedStep::Call);
    scratch.reset();
    // A call that ran out of time leaves its request unanswered on the
    // connection; the session goes with it, and the next step starts afresh.
    if (NT_STATUS_EQUAL(status, NT_STATUS_IO_TIMEOUT) ||
        (!NT_STATUS_IS_OK(status) && !dcerpc_binding_handle_is_connected(pipe->binding_handle))) {
      Retire(server);
    }
    return NT_STATUS_IS_OK(status);
  }

  // The chain's next request on its pipe, bounded as a call. A session that
  // went in the meantime fails it as a call pinned to that session would.
  void Send(ChainRun& run, CallChain::Request request) {
    if (request.Call == nullptr) {
      run.Ended = true;
      return;
    }
    auto live = live_.find(run.Server);
    if (live == live_.end() || live->second.get() != run.On) return EndChain(run, {0, FailedStep::Call}, false);
    dcerpc_pipe* pipe = run.On->Pipes[static_cast<std::size_t>(run.Iface)];
    posix::SteadyClock::time_point deadline = posix::WaitDeadline(CallBound);
    if (posix::MillisecondsUntil(deadline) == 0) {
      return EndChain(run, {NT_STATUS_V(NT_STATUS_IO_TIMEOUT), FailedStep::Call}, true);
    }
    run.InFlight = NewTalloc(memory_.get());
    tevent_req* req =
        dcerpc_binding_handle_call_send(run.InFlight.get(), ev_, pipe->binding_handle, nullptr, &TableOf(run.Iface),
                                        request.Opnum, run.Chain->ReplyMemory(), request.Call);
    if (req == nullptr || !tevent_req_set_endtime(req, ev_, TimevalOf(deadline))) {
      run.InFlight.reset();
      return EndChain(run, {NT_STATUS_V(NT_STATUS_NO_MEMORY), FailedStep::Call}, false);
    }
    tevent_req_set_callback(req, &ChainReplied, &run);
  }

  static void ChainReplied(tevent_req* req) {
    auto& run = *static_cast<ChainRun*>(tevent_req_callback_data_void(req));
    const NTSTATUS status = dcerpc_binding_handle_call_recv(req);
    run.InFlight.reset();
    if (!NT_STATUS_IS_OK(status)) {
      dcerpc_pipe* pipe = run.On->Pipes[static_cast<std::size_t>(run.Iface)];
      const bool gone =
          NT_STATUS_EQUAL(status, NT_STATUS_IO_TIMEOUT) || !dcerpc_binding_handle_is_connected(pipe->binding_handle);
      return run.Pool->EndChain(run, {NT_STATUS_V(status), FailedStep::Call}, gone);
    }
    run.Pool->Send(run, run.Chain->Answered());
  }

  void EndChain(ChainRun& run, const CallFailure& failure, bool endsSession) {
    run.WaitingForPipe = false;
    run.Ended = true;
    run.EndsSession = endsSession;
    run.Chain->Failed(failure);
  }

  // Opens the interface's pipe on the session without waiting for it; the
  // chains waiting for it go on when it is open.
  void OpenAside(Session& session, RpcInterface iface) {
    PipeOpening& opening = session.Opening[static_cast<std::size_t>(iface)];
    if (opening.Request != nullptr) return;
    composite_context* c = SendOpen(session, iface);
    if (c == nullptr) return PipeSettled(session, iface, {NT_STATUS_V(NT_STATUS_NO_MEMORY), FailedStep::Connect});
    opening.Pool = this;
    opening.On = &session;
    opening.Iface = iface;
    opening.Request = c;
    opening.Bound = NewTalloc(session.Memory);
    CompositeWhenDone(c, &PipeOpened, &opening);
    tevent_add_timer(ev_, opening.Bound.get(), TimevalOf(posix::WaitDeadline(ConnectBound)), &OpenOutlasted, &opening);
  }

  static void PipeOpened(composite_context* c) {
    auto& opening = *static_cast<PipeOpening*>(CompositeData(c));
    Session& session = *opening.On;
    dcerpc_pipe* pipe = nullptr;
    const NTSTATUS status = dcerpc_secondary_auth_connection_recv(c, session.Memory, &pipe);
    opening.Request = nullptr;
    opening.Bound.reset();
    const std::size_t index = static_cast<std::size_t>(opening.Iface);
    if (NT_STATUS_IS_OK(status) && pipe != nullptr && session.Pipes[index] == nullptr) {
      dcerpc_binding_handle_set_timeout(pipe->binding_handle, static_cast<std::uint32_t>(CallBound.count()));
      session.Pipes[index] = pipe;
    }
    opening.Pool->PipeSettled(session, opening.Iface, {NT_STATUS_V(status), FailedStep::Connect});
  }

  // The open outlasted its bound: the chains waiting for it fail as a
  // connect would; the request is left to end with the session.
  static void OpenOutlasted(tevent_context*, tevent_timer*, timeval, void* data) {
    auto& opening = *static_cast<PipeOpening*>(data);
    opening.Pool->PipeSettled(*opening.On, opening.Iface, {NT_STATUS_V(NT_STATUS_IO_TIMEOUT), FailedStep::Connect});
  }

  void PipeSettled(Session& session, RpcInterface iface, const CallFailure& failure) {
    dcerpc_pipe* pipe = session.Pipes[static_cast<std::size_t>(iface)];
    dcerpc_pipe* first = FirstPipe(session);
    const bool gone = failure.NtStatus == NT_STATUS_V(NT_STATUS_IO_TIMEOUT) || first == nullptr ||
                      !dcerpc_binding_handle_is_connected(first->binding_handle);
    for (const auto& run : chains_) {
      if (!run->WaitingForPipe || run->On != &session || run->Iface != iface) continue;
      run->WaitingForPipe = false;
      if (pipe != nullptr) {
        Send(*run, run->Chain->First());
      } else {
        EndChain(*run, failure, gone);
      }
    }
  }

  std::nullopt_t Failed(std::uint32_t ntStatus, FailedStep step) {
    lastFailure_ = {ntStatus, step};
    return std::nullopt;
  }

  dcerpc_pipe* PipeFor(const std::string& server, RpcInterface iface, Session*& session) {
    auto index = static_cast<std::size_t>(iface);
    auto found = live_.find(server);
    if (found == live_.end()) {
      std::unique_ptr<Session> fresh = Connect(server, iface);
      if (!fresh) return nullptr;
      session = fresh.get();
      live_[server] = std::move(fresh);
      return session->Pipes[index];
    }
    session = found->second.get();
    if (session->Opening[index].Request != nullptr) {
      // A chain's open of this pipe is under way: it is waited for, not
      // made twice.
      Session* waiting = session;
      RunUntil(ev_, posix::WaitDeadline(ConnectBound),
               [waiting, index] { return waiting->Opening[index].Request == nullptr; });
    }
    if (session->Pipes[index] == nullptr) OpenSecondary(server, *session, iface);
    return session->Pipes[index];
  }

  std::unique_ptr<Session> Connect(const std::string& server, RpcInterface iface) {
    posix::SteadyClock::time_point deadline = posix::WaitDeadline(ConnectBound);
    auto session = std::make_unique<Session>(memory_.get());
    lastFailure_ = {};
    if (!NT_STATUS_IS_OK(dcerpc_parse_binding(session->Memory, "ncacn_np:", &session->Binding))) return nullptr;
    // Options set one by one: a host text never passes through the binding
    // string syntax, whatever characters it holds. The name stays the target
    // name, for Kerberos and for the server's own view of the call. A name
    // the system resolver lacks is left to Samba's NetBIOS broadcast, inside
    // the connect's deadline.
    std::string address = SystemAddressOf(server);
    FailedStep step = address.empty() ? FailedStep::ConnectByNetBiosName : FailedStep::Connect;
    if (!NT_STATUS_IS_OK(dcerpc_binding_set_string_option(session->Binding, "host",
                                                          address.empty() ? server.c_str() : address.c_str())) ||
        !NT_STATUS_IS_OK(dcerpc_binding_set_string_option(session->Binding, "target_hostname", server.c_str())) ||
        !NT_STATUS_IS_OK(dcerpc_binding_set_string_option(session->Binding, "endpoint", PipeOf(iface)))) {
      return nullptr;
    }
    // Resolution, TCP connect, negotiation, session setup, the pipe's open
    // and its bind: one request on the event loop, bounded as a whole.
    composite_context* c =
        dcerpc_pipe_connect_b_send(session->Memory, session->Binding, &TableOf(iface), creds_, ev_, lp_);
    if (c == nullptr) return nullptr;
    NegotiateWatch watch(ev_, session->Memory);
    if (!RunUntil(ev_, deadline, [c, &watch] {
          watch.Look();
          return CompositeFinished(c);
        })) {
      Abandon(c, session->Memory);
      Failed(NT_STATUS_V(NT_STATUS_IO_TIMEOUT), step);
      return nullptr;
    }
    dcerpc_pipe* pipe = nullptr;
    NTSTATUS status = dcerpc_pipe_connect_b_recv(c, session->Memory, &pipe);
    if (!NT_STATUS_IS_OK(status) || pipe == nullptr) {
      Failed(NT_STATUS_V(status), step);
      return nullptr;
    }
    dcerpc_binding_handle_set_timeout(pipe->binding_handle, static_cast<std::uint32_t>(CallBound.count()));
    session->Clock = watch.Clock();
    session->Id = ++lastSessionId_;
    session->Server = server;
    session->Pipes[static_cast<std::size_t>(iface)] = pipe;
    return session;
  }

  void OpenSecondary(const std::string& server, Session& session, RpcInterface iface) {
    posix::SteadyClock::time_point deadline = posix::WaitDeadline(ConnectBound);
    lastFailure_ = {};
    dcerpc_pipe* first = FirstPipe(session);
    composite_context* c = SendOpen(session, iface);
    if (c == nullptr) return;
    if (!RunUntil(ev_, deadline, [c] { return CompositeFinished(c); })) {
      Abandon(c, session.Memory);
      Retire(server);
      Failed(NT_STATUS_V(NT_STATUS_IO_TIMEOUT), FailedStep::Connect);
      return;
    }
    dcerpc_pipe* pipe = nullptr;
    NTSTATUS status = dcerpc_secondary_auth_connection_recv(c, session.Memory, &pipe);
    if (!NT_STATUS_IS_OK(status) || pipe == nullptr) {
      Failed(NT_STATUS_V(status), FailedStep::Connect);
      if (!dcerpc_binding_handle_is_connected(first->binding_handle)) Retire(server);
      return;
    }
    dcerpc_binding_handle_set_timeout(pipe->binding_handle, static_cast<std::uint32_t>(CallBound.count()));
    session.Pipes[static_cast<std::size_t>(iface)] = pipe;
  }

  static dcerpc_pipe* FirstPipe(const Session& session) {
    dcerpc_pipe* first = nullptr;
    for (dcerpc_pipe* pipe : session.Pipes) {
      if (pipe != nullptr) first = pipe;
    }
    return first;
  }

  // The pipe's open on the session's IPC$ tree and its bind, beside a pipe
  // the session has.
  composite_context* SendOpen(Session& session, RpcInterface iface) {
    dcerpc_pipe* first = FirstPipe(session);
    if (first == nullptr) return nullptr;
    dcerpc_binding* binding = dcerpc_binding_dup(session.Memory, session.Binding);
    if (binding == nullptr || !NT_STATUS_IS_OK(dcerpc_binding_set_string_option(binding, "endpoint", PipeOf(iface)))) {
      return nullptr;
    }
    return dcerpc_secondary_auth_connection_send(first, binding, &TableOf(iface), creds_, lp_);
  }

  // Gives up a connect or pipe open that ran out of time. Its connection is
  // ended first, and the loop turned until the request has taken that
  // failure in: the failure reaches the request's callbacks on the next turn
  // of the loop, which must not find the request freed; and freeing a pipe
  // that is half open would send a close and wait a second for the answer a
  // stalled host never gives.
  void Abandon(composite_context* c, void* sessionMemory) {
    EndConnection(sessionMemory);
    RunUntil(ev_, posix::SteadyClock::now() + AbandonDrain, [c] { return CompositeFinished(c); });
    TallocPtr<composite_context> ended(c);
  }

  // A dead session stays allocated until the end: registry keys may still
  // name its pipes, and the next call to the server starts a new one. Its
  // connection is ended now, so nothing waits on it any more.
  void Retire(const std::string& server) {
    auto found = live_.find(server);
    if (found == live_.end()) return;
    EndConnection(found->second->Memory);
    retired_.push_back(std::move(found->second));
    live_.erase(found);
  }

  TallocPtr<> memory_;
  tevent_context* ev_;
  loadparm_context* lp_;
  cli_credentials* creds_;
  std::map<std::string, std::unique_ptr<Session>> live_;
  std::vector<std::unique_ptr<Session>> retired_;
  std::vector<std::unique_ptr<ChainRun>> chains_;
  std::uint64_t lastSessionId_ = 0;
  CallFailure lastFailure_;
};

}  // namespace

std::unique_ptr<SessionPool> SessionPool::Open(const Logon& logon, const std::string& workstation) {
  if (!SambaUsable()) return nullptr;
  // From here on, the log messages of Samba's libraries go nowhere: some are
  // printed whatever the log level, and the tool's output is its lines only.
  SilenceSambaLog();
  // No configuration file is read: the run depends on its command line and
  // the user's logon only.
  loadparm_context* lp = loadparm_init_global(false);
  if (lp == nullptr) return nullptr;
  // What Windows does for a name: the system resolver (asked by the backend
  // itself, bounded), then a NetBIOS broadcast for a name it lacks, which
  // Samba sends on the connect's event loop. No WINS, no lmhosts.
  lpcfg_set_cmdline(lp, "name resolve order", "bcast");
  lpcfg_set_cmdline(lp, "netbios name", workstation.c_str());
  if (!NT_STATUS_IS_OK(dcerpc_init())) return nullptr;

  TallocPtr<> memory = NewTalloc();
  tevent_context* ev = memory ? tevent_context_init_byname(memory.get(), "poll") : nullptr;
  cli_credentials* creds = memory ? NewCredentials(memory.get(), lp, logon, workstation) : nullptr;
  if (ev == nullptr || creds == nullptr) return nullptr;
  return std::make_unique<SambaSessionPool>(std::move(memory), ev, lp, creds);
}

void SessionPool::LoadModules() {
  if (SambaUsable()) dcerpc_init();
}

}  // namespace quorvex::samba
