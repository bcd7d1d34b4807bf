#include "platform/posix/samba/samba_abi.h"

#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <string>

extern "C" {
extern const struct ndr_interface_table ndr_table_wkssvc;
extern const struct ndr_interface_table ndr_table_srvsvc;
extern const struct ndr_interface_table ndr_table_winreg;
extern const struct ndr_interface_table ndr_table_svcctl;
extern const struct ndr_interface_table ndr_table_samr;
extern const struct ndr_interface_table ndr_table_lsarpc;
}

namespace quorvex::samba {
namespace {

std::atomic<bool> forcedUnusable{false};

template <typename Function>
bool Resolve(Function& target, const char* name) {
  target = reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
  return target != nullptr;
}

struct Loaded {
  SmbCalls Calls{};
  bool AllResolved = false;
  std::string Version;
};

// The version text lives in libsmbconf, from the same build as the libraries
// linked here; it is loaded for the question only.
std::string LoadedVersion() {
  void* library = dlopen("libsmbconf.so.0", RTLD_LAZY | RTLD_LOCAL);
  if (library == nullptr) return {};
  std::string version;
  auto versionText = reinterpret_cast<const char* (*)()>(dlsym(library, "samba_version_string"));
  const char* text = versionText != nullptr ? versionText() : nullptr;
  if (text != nullptr) version = text;
  return version;
}

const Loaded& Load() {
  static const Loaded loaded = [] {
    Loaded l;
    SmbCalls& c = l.Calls;
    l.AllResolved =
        Resolve(c.TconCreate, "smbXcli_tcon_create") && Resolve(c.TconSend, "smb2cli_tcon_send") &&
        Resolve(c.TconReceive, "smb2cli_tcon_recv") && Resolve(c.Disconnect, "smbXcli_conn_disconnect") &&
        Resolve(c.RequestCreate, "smb2cli_req_create") && Resolve(c.CompoundSubmit, "smb2cli_req_compound_submit") &&
        Resolve(c.RequestReceive, "smb2cli_req_recv") && Resolve(c.IsConnected, "smbXcli_conn_is_connected") &&
        Resolve(c.Protocol, "smbXcli_conn_protocol") &&
        Resolve(c.Smb2SecurityMode, "smb2cli_conn_server_security_mode") &&
        Resolve(c.ServerSystemTime, "smbXcli_conn_server_system_time");
    l.Version = LoadedVersion();
    return l;
  }();
  return loaded;
}

// The composite requests come without a public header for their structure
// (libcli/composite/composite.h in Samba's tree, unchanged through the
// tested releases): the state, of which done and error are final, and the
// callback the request calls when it ends.
enum class CompositeState : int { Init = 0, InProgress = 1, Done = 2, Error = 3 };
struct CompositeLayout {
  CompositeState State;
  void* PrivateData;
  NTSTATUS Status;
  tevent_context* EventContext;
  struct {
    void (*Fn)(composite_context*);
    void* PrivateData;
  } Async;
  bool UsedWait;
};

void Collect(const void* ptr, int, int, int isReference, void* data) {
  if (isReference) return;
  auto* parts = static_cast<SessionParts*>(data);
  const char* name = talloc_get_name(ptr);
  if (std::strcmp(name, "struct smbXcli_conn") == 0 && parts->Conn == nullptr) {
    parts->Conn = static_cast<smbXcli_conn*>(const_cast<void*>(ptr));
  } else if (std::strcmp(name, "struct smbXcli_session") == 0 && parts->Session == nullptr) {
    parts->Session = static_cast<smbXcli_session*>(const_cast<void*>(ptr));
  } else if (std::strcmp(name, "struct smb2_tree") == 0) {
    parts->Smb2 = true;
  }
}

}  // namespace

std::uint16_t DialectOfProtocol(int protocol) {
  // PROTOCOL_NONE = 0 and the SMB1 protocols (CORE up to NT1 = 5) come first.
  struct Row {
    int Protocol;
    std::uint16_t Dialect;
  };
  static constexpr Row Rows[] = {{6, 0x0202}, {7, 0x0210}, {8, 0x0300}, {9, 0x0302}, {10, 0x0311}};
  for (const Row& row : Rows) {
    if (row.Protocol == protocol) return row.Dialect;
  }
  return 0;
}

bool AbiUsable(std::string_view version, bool allCallsResolved) {
  if (!allCallsResolved) return false;
  for (std::string_view tested : TestedReleases) {
    if (version.substr(0, tested.size()) == tested) return true;
  }
  return false;
}

bool SambaUsable() {
  static const bool usable = AbiUsable(Load().Version, Load().AllResolved);
  return usable && !forcedUnusable;
}

void ForceSambaUnusable() { forcedUnusable = true; }

const ndr_interface_table& WorkstationInterface() { return ndr_table_wkssvc; }
const ndr_interface_table& ServerInterface() { return ndr_table_srvsvc; }
const ndr_interface_table& RegistryInterface() { return ndr_table_winreg; }
const ndr_interface_table& ServiceControlInterface() { return ndr_table_svcctl; }
const ndr_interface_table& AccountsInterface() { return ndr_table_samr; }
const ndr_interface_table& PolicyInterface() { return ndr_table_lsarpc; }

bool CompositeFinished(const composite_context* c) {
  return reinterpret_cast<const CompositeLayout*>(c)->State >= CompositeState::Done;
}

void CompositeWhenDone(composite_context* c, void (*done)(composite_context*), void* data) {
  auto* layout = reinterpret_cast<CompositeLayout*>(c);
  layout->Async.Fn = done;
  layout->Async.PrivateData = data;
}

void* CompositeData(const composite_context* c) {
  return reinterpret_cast<const CompositeLayout*>(c)->Async.PrivateData;
}

void SilenceSambaLog() {
  // The logging library ships no header and versions its symbols with the
  // exact Samba release, so the call is found by name in the loaded copy.
  using Callback = void (*)(void*, int, const char*);
  void (*set)(void*, Callback) = nullptr;
  if (Resolve(set, "debug_set_callback")) set(nullptr, [](void*, int, const char*) {});
}

const SmbCalls* LoadedSmbCalls() { return SambaUsable() ? &Load().Calls : nullptr; }

SessionParts FindSessionParts(const void* sessionMemory) {
  SessionParts parts;
  if (sessionMemory != nullptr) talloc_report_depth_cb(sessionMemory, 0, -1, &Collect, &parts);
  return parts;
}

}  // namespace quorvex::samba
