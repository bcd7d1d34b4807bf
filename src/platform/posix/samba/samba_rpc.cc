#include "platform/posix/samba/samba_rpc.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <set>

#include <talloc.h>

#include "platform/posix/cp437.h"
#include "platform/posix/samba/credentials.h"
#include "platform/posix/samba/smb_tree.h"

extern "C" {
#include <tevent.h>
#include <core/ntstatus.h>
#include <dcerpc.h>
#include <param.h>

// Exported by libndr-standard without a header of their own.
extern const struct ndr_interface_table ndr_table_wkssvc;
extern const struct ndr_interface_table ndr_table_srvsvc;
extern const struct ndr_interface_table ndr_table_winreg;
}

namespace quorvex::samba {
namespace {

// The reply came in big-endian NDR, which the stub decoders do not read.
constexpr std::uint32_t ReplyBigEndian = 1U << 0;

const ndr_interface_table& TableOf(RpcInterface iface) {
  switch (iface) {
    case RpcInterface::Workstation:
      return ndr_table_wkssvc;
    case RpcInterface::Server:
      return ndr_table_srvsvc;
    case RpcInterface::Registry:
      break;
  }
  return ndr_table_winreg;
}

const char* PipeOf(RpcInterface iface) {
  switch (iface) {
    case RpcInterface::Workstation:
      return "\\pipe\\wkssvc";
    case RpcInterface::Server:
      return "\\pipe\\srvsvc";
    case RpcInterface::Registry:
      break;
  }
  return "\\pipe\\winreg";
}

std::set<int> OpenSockets() {
  std::set<int> sockets;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return sockets;
  int own = dirfd(dir);
  while (dirent* entry = readdir(dir)) {
    char* end = nullptr;
    long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == own) continue;
    struct stat st {};
    if (fstat(static_cast<int>(fd), &st) == 0 && S_ISSOCK(st.st_mode)) sockets.insert(static_cast<int>(fd));
  }
  closedir(dir);
  return sockets;
}

// Samba's connect waits up to a minute on a host that drops SYNs or a server
// that never answers. At the deadline this shuts down the sockets the step
// opened (and those of the session it works in): every pending read and
// connect then fails at once and the blocking call returns its error.
}  // namespace

std::string SystemAddressOf(const std::string& name) {
  in_addr literal {};
  if (inet_pton(AF_INET, name.c_str(), &literal) == 1) return name;
  addrinfo hints {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return {};
  char text[INET_ADDRSTRLEN] = {};
  const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  std::string result = inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr ? text : "";
  freeaddrinfo(found);
  return result;
}

void DropLogMessages() {
  // The logging library ships no header and versions its symbols with the
  // exact Samba release, so the call is found by name in the loaded copy.
  using Callback = void (*)(void*, int, const char*);
  using SetCallback = void (*)(void*, Callback);
  auto set = reinterpret_cast<SetCallback>(dlsym(RTLD_DEFAULT, "debug_set_callback"));
  if (set != nullptr) set(nullptr, [](void*, int, const char*) {});
}

namespace {

class Deadline {
 public:
  Deadline(tevent_context* ev, unsigned seconds, std::vector<int> sessionSockets)
      : known_(OpenSockets()), sessionSockets_(std::move(sessionSockets)), parent_(talloc_new(nullptr)) {
    // tevent frees a timer once it has fired; a throwaway parent keeps the
    // cleanup below the same whether it fired or not.
    tevent_add_timer(ev, parent_, tevent_timeval_current_ofs(seconds, 0), &Deadline::OnTimer, this);
  }
  ~Deadline() { talloc_free(parent_); }
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

  // Sockets opened since the step began.
  std::vector<int> NewSockets() const {
    std::vector<int> fresh;
    for (int fd : OpenSockets()) {
      if (known_.count(fd) == 0) fresh.push_back(fd);
    }
    return fresh;
  }

 private:
  static void OnTimer(tevent_context*, tevent_timer*, timeval, void* data) {
    auto* self = static_cast<Deadline*>(data);
    for (int fd : self->NewSockets()) shutdown(fd, SHUT_RDWR);
    for (int fd : self->sessionSockets_) shutdown(fd, SHUT_RDWR);
  }

  std::set<int> known_;
  std::vector<int> sessionSockets_;
  TALLOC_CTX* parent_;
};

struct Session {
  Session(TALLOC_CTX* parent) : Memory(talloc_new(parent)) {}
  ~Session() {
    Trees.reset();
    talloc_free(Memory);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  TALLOC_CTX* Memory;  // owns the binding and every pipe
  dcerpc_binding* Binding = nullptr;
  dcerpc_pipe* Pipes[3] = {nullptr, nullptr, nullptr};
  std::vector<int> Sockets;
  std::uint64_t Id = 0;
  std::unique_ptr<ShareTrees> Trees;  // made on the first share question
  bool TreesTried = false;
};

class SambaRpcClient : public RpcClient {
 public:
  SambaRpcClient(TALLOC_CTX* memory, tevent_context* ev, loadparm_context* lp, cli_credentials* creds)
      : memory_(memory), ev_(ev), lp_(lp), creds_(creds) {}

  ~SambaRpcClient() override {
    live_.clear();
    retired_.clear();
    talloc_free(memory_);
  }

  std::optional<std::vector<std::uint8_t>> Call(const std::string& server, RpcInterface iface,
                                                std::uint16_t opnum, const std::vector<std::uint8_t>& request,
                                                std::uint64_t requiredSession, std::uint64_t* usedSession) override {
    if (requiredSession != 0) {
      auto found = live_.find(server);
      if (found == live_.end() || found->second->Id != requiredSession) return std::nullopt;
    }
    Session* session = nullptr;
    dcerpc_pipe* pipe = PipeFor(server, iface, session);
    if (pipe == nullptr) return std::nullopt;
    if (usedSession != nullptr) *usedSession = session->Id;

    TALLOC_CTX* scratch = talloc_new(memory_);
    std::uint8_t* out = nullptr;
    std::size_t outLength = 0;
    std::uint32_t outFlags = 0;
    NTSTATUS status = dcerpc_binding_handle_raw_call(pipe->binding_handle, nullptr, opnum, 0, request.data(),
                                                     request.size(), scratch, &out, &outLength, &outFlags);
    std::optional<std::vector<std::uint8_t>> reply;
    if (NT_STATUS_IS_OK(status) && (outFlags & ReplyBigEndian) == 0) {
      reply.emplace(out, out + outLength);
    }
    talloc_free(scratch);
    if (!NT_STATUS_IS_OK(status) && !dcerpc_binding_handle_is_connected(pipe->binding_handle)) {
      Retire(server);
    }
    return reply;
  }

  bool FileExists(const smb::SharePath& path) override {
    return AskShare(path, [&](ShareTrees& trees) { return trees.Exists(path); }).value_or(false);
  }

  std::optional<DiskFreeSpace> FreeSpace(const smb::SharePath& path) override {
    return AskShare(path, [&](ShareTrees& trees) { return trees.FreeSpace(path); }).value_or(std::nullopt);
  }

 private:
  // A share question needs only the session, not a pipe; with no session yet
  // one is made with the registry pipe, which a full check opens next anyway.
  template <typename Question>
  auto AskShare(const smb::SharePath& path, Question question) -> std::optional<decltype(question(
      std::declval<ShareTrees&>()))> {
    std::string server = Cp437ToUtf8(path.Server);
    Session* session = nullptr;
    if (auto found = live_.find(server); found != live_.end()) {
      session = found->second.get();
    } else if (PipeFor(server, RpcInterface::Registry, session) == nullptr) {
      return std::nullopt;
    }
    if (!session->TreesTried) {
      session->TreesTried = true;
      session->Trees = ShareTrees::Find(session->Memory, CallBoundSeconds);
    }
    if (!session->Trees) return std::nullopt;
    auto answer = question(*session->Trees);
    if (!session->Trees->Connected()) Retire(server);
    return answer;
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
    if (session->Pipes[index] == nullptr) OpenSecondary(server, *session, iface);
    return session->Pipes[index];
  }

  std::unique_ptr<Session> Connect(const std::string& server, RpcInterface iface) {
    auto session = std::make_unique<Session>(memory_);
    if (!NT_STATUS_IS_OK(dcerpc_parse_binding(session->Memory, "ncacn_np:", &session->Binding))) return nullptr;
    dcerpc_pipe* pipe = nullptr;
    NTSTATUS status;
    std::vector<int> opened;
    {
      Deadline deadline(ev_, ConnectBoundSeconds, {});
      // Options set one by one: a host text never passes through the binding
      // string syntax, whatever characters it holds. The name stays the
      // target name, for Kerberos and for the server's own view of the call.
      std::string address = SystemAddressOf(server);
      if (!NT_STATUS_IS_OK(dcerpc_binding_set_string_option(session->Binding, "host",
                                                            address.empty() ? server.c_str() : address.c_str())) ||
          !NT_STATUS_IS_OK(dcerpc_binding_set_string_option(session->Binding, "target_hostname", server.c_str())) ||
          !NT_STATUS_IS_OK(dcerpc_binding_set_string_option(session->Binding, "endpoint", PipeOf(iface)))) {
        return nullptr;
      }
      status = dcerpc_pipe_connect_b(session->Memory, &pipe, session->Binding, &TableOf(iface), creds_, ev_, lp_);
      opened = deadline.NewSockets();
    }
    if (!NT_STATUS_IS_OK(status) || pipe == nullptr) return nullptr;
    dcerpc_binding_handle_set_timeout(pipe->binding_handle, CallBoundSeconds);
    session->Sockets = std::move(opened);
    session->Id = ++lastSessionId_;
    session->Pipes[static_cast<std::size_t>(iface)] = pipe;
    return session;
  }

  void OpenSecondary(const std::string& server, Session& session, RpcInterface iface) {
    dcerpc_pipe* first = nullptr;
    for (dcerpc_pipe* pipe : session.Pipes) {
      if (pipe != nullptr) first = pipe;
    }
    if (first == nullptr) return;
    dcerpc_binding* binding = dcerpc_binding_dup(session.Memory, session.Binding);
    if (binding == nullptr ||
        !NT_STATUS_IS_OK(dcerpc_binding_set_string_option(binding, "endpoint", PipeOf(iface)))) {
      return;
    }
    dcerpc_pipe* pipe = nullptr;
    NTSTATUS status;
    {
      Deadline deadline(ev_, ConnectBoundSeconds, session.Sockets);
      status = dcerpc_secondary_auth_connection(first, binding, &TableOf(iface), creds_, lp_, session.Memory, &pipe);
    }
    if (!NT_STATUS_IS_OK(status) || pipe == nullptr) {
      if (!dcerpc_binding_handle_is_connected(first->binding_handle)) Retire(server);
      return;
    }
    dcerpc_binding_handle_set_timeout(pipe->binding_handle, CallBoundSeconds);
    session.Pipes[static_cast<std::size_t>(iface)] = pipe;
  }

  // A dead session stays allocated until the end: registry keys may still
  // name its pipes, and the next call to the server starts a new one.
  void Retire(const std::string& server) {
    auto found = live_.find(server);
    if (found == live_.end()) return;
    retired_.push_back(std::move(found->second));
    live_.erase(found);
  }

  TALLOC_CTX* memory_;
  tevent_context* ev_;
  loadparm_context* lp_;
  cli_credentials* creds_;
  std::map<std::string, std::unique_ptr<Session>> live_;
  std::vector<std::unique_ptr<Session>> retired_;
  std::uint64_t lastSessionId_ = 0;
};

}  // namespace

std::unique_ptr<RpcClient> RpcClient::Open(const smb::Logon& logon, const std::string& workstation) {
  // No configuration file is read: the run depends on its command line and
  // the user's logon only.
  loadparm_context* lp = loadparm_init_global(false);
  if (lp == nullptr) return nullptr;
  // What Windows does for a name: the system resolver, then a NetBIOS
  // broadcast for a short name it lacks. No WINS, no lmhosts.
  lpcfg_set_cmdline(lp, "name resolve order", "host bcast");
  lpcfg_set_cmdline(lp, "netbios name", workstation.c_str());
  if (!NT_STATUS_IS_OK(dcerpc_init())) return nullptr;

  TALLOC_CTX* memory = talloc_new(nullptr);
  tevent_context* ev = tevent_context_init(memory);
  cli_credentials* creds = memory != nullptr ? NewCredentials(memory, lp, logon, workstation) : nullptr;
  if (ev == nullptr || creds == nullptr) {
    talloc_free(memory);
    return nullptr;
  }
  return std::make_unique<SambaRpcClient>(memory, ev, lp, creds);
}

}  // namespace quorvex::samba
