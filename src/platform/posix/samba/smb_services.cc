// Network management, the admin$ share, the remote registry and the host
// administration calls of a Windows host, reached from Linux through Samba's
// client libraries: DCE/RPC over named pipes for the calls, and SMB2 requests
// on the same session for the share. Everything runs with the logon of the
// user who runs the tool, and every wait is bounded.
#include "platform/posix/samba/smb_services.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "core/encoding.h"
#include "platform/posix/samba/host_admin.h"
#include "platform/posix/samba/ndr.h"
#include "platform/posix/samba/session_pool.h"
#include "platform/posix/samba/smb_text.h"
#include "platform/posix/samba/win32_status.h"

namespace quorvex::samba {
namespace {

using Win32::BadNetPath;
using Win32::RpcServerUnavailable;
// The registry's calls answer signed statuses.
constexpr std::int32_t MoreData = Win32::MoreData;
constexpr std::int32_t InvalidParameter = Win32::InvalidParameter;

constexpr std::uint32_t InfoLevel = 102;
constexpr std::uint32_t MaximumAllowed = 0x02000000;
constexpr std::uint32_t KeyRead = 0x00020019;
// The largest value a caller may ask for in one read; far beyond the 1024
// bytes the checks use, and small enough to keep a reply in one piece.
constexpr std::uint32_t LargestValueRequest = 0x10000;
// Room for the longest key name (255 characters) and its NUL.
constexpr std::uint16_t KeyNameBuffer = 512;

// Owns the decoded strings; Info points into them, or is null for a string
// the host sent as a null pointer.
class DecodedWorkstationRecord : public WorkstationRecord {
 public:
  explicit DecodedWorkstationRecord(WorkstationInfo102 info) : decoded_(std::move(info)) {
    Info.ComputerName = decoded_.ComputerName ? decoded_.ComputerName->c_str() : nullptr;
    Info.LanGroup = decoded_.LanGroup ? decoded_.LanGroup->c_str() : nullptr;
    Info.VerMajor = decoded_.VerMajor;
    Info.VerMinor = decoded_.VerMinor;
    Info.LoggedOnUsers = decoded_.LoggedOnUsers;
  }

 private:
  WorkstationInfo102 decoded_;
};

class DecodedServerRecord : public ServerRecord {
 public:
  explicit DecodedServerRecord(ServerInfo102 info) : decoded_(std::move(info)) {
    Info.Type = decoded_.Type;
    Info.Comment = decoded_.Comment ? decoded_.Comment->c_str() : nullptr;
    Info.Hidden = decoded_.Hidden;
  }

 private:
  ServerInfo102 decoded_;
};

std::string LoginName() {
  if (const char* name = std::getenv("LOGNAME"); name != nullptr && *name != '\0') return name;
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_name != nullptr) {
    return entry->pw_name;
  }
  return {};
}

std::string OwnHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

// The piece every service shares: one RPC client, and with it one SMB
// session per server name, made on first use so that a run that ends early
// never opens a session.
// Samba is started on the first remote call only, so runs that end earlier
// (usage text, a bad value, an unresolved host, a host that does not answer
// the ping) never initialise it.
class SambaClients {
 public:
  SessionPool* Pool() {
    if (!poolTried_) {
      poolTried_ = true;
      std::string workstation = WorkstationNameOf(OwnHostName());
      pool_ = SessionPool::Open(ParseLogon(std::getenv("USER"), std::getenv("PASSWD"), LoginName()), workstation);
    }
    return pool_.get();
  }

 private:
  bool poolTried_ = false;
  std::unique_ptr<SessionPool> pool_;
};

class SambaNet : public NetManagementService {
 public:
  explicit SambaNet(SambaClients& clients) : clients_(clients) {}

  std::uint32_t GetWorkstationInfo(const std::string& uncServerName,
                                   std::unique_ptr<WorkstationRecord>& record) override {
    std::uint32_t failure = BadNetPath;
    std::optional<std::vector<std::uint8_t>> reply =
        Ask(uncServerName, RpcInterface::Workstation, OpNetWkstaGetInfo, EncodeNetWkstaGetInfo(InfoLevel), failure);
    if (!reply) return failure;
    auto decoded = DecodeNetWkstaGetInfo(reply->data(), reply->size());
    if (!decoded) return BadNetPath;
    if (decoded->WError != 0) return decoded->WError;
    record = std::make_unique<DecodedWorkstationRecord>(std::move(decoded->Value));
    return 0;
  }

  std::uint32_t GetServerInfo(const std::string& uncServerName, std::unique_ptr<ServerRecord>& record) override {
    std::uint32_t failure = BadNetPath;
    std::optional<std::vector<std::uint8_t>> reply =
        Ask(uncServerName, RpcInterface::Server, OpNetSrvGetInfo, EncodeNetSrvGetInfo(InfoLevel), failure);
    if (!reply) return failure;
    auto decoded = DecodeNetSrvGetInfo(reply->data(), reply->size());
    if (!decoded) return BadNetPath;
    if (decoded->WError != 0) return decoded->WError;
    record = std::make_unique<DecodedServerRecord>(std::move(decoded->Value));
    return 0;
  }

  std::string WideToAnsiText(std::u16string_view text) override { return Utf16ToCp437(text); }

 private:
  std::optional<std::vector<std::uint8_t>> Ask(const std::string& uncServerName, RpcInterface iface,
                                               std::uint16_t opnum, const Bytes& request, std::uint32_t& failure) {
    std::optional<std::string> server = ServerNameOf(uncServerName);
    SessionPool* pool = clients_.Pool();
    if (!server || pool == nullptr) return std::nullopt;
    auto reply = pool->Call(*server, iface, opnum, request);
    if (!reply) failure = Win32StatusOf(pool->LastFailure(), failure);
    return reply;
  }

  SambaClients& clients_;
};

class SambaFindHandle : public FindHandle {};

class SambaFiles : public UncFileService {
 public:
  explicit SambaFiles(SambaClients& clients) : clients_(clients) {}

  std::unique_ptr<FindHandle> FindFirst(const std::string& path) override {
    std::optional<SharePath> share = SharePathOf(path);
    SessionPool* pool = share ? clients_.Pool() : nullptr;
    if (pool == nullptr || !pool->FileExists(*share)) return Failed(pool);
    return std::make_unique<SambaFindHandle>();
  }

  std::optional<DiskFreeSpace> QueryDiskFreeSpace(const std::string& rootPath) override {
    std::optional<SharePath> share = SharePathOf(rootPath);
    SessionPool* pool = share ? clients_.Pool() : nullptr;
    std::optional<DiskFreeSpace> space = pool != nullptr ? pool->FreeSpace(*share) : std::nullopt;
    if (!space) Failed(pool);
    return space;
  }

  std::uint32_t LastFailure() override { return lastFailure_; }

  SmbConnectionFacts ConnectionFacts(const std::string& uncServerName) override {
    std::optional<std::string> server = ServerNameOf(uncServerName);
    SessionPool* pool = clients_.Pool();
    if (!server || pool == nullptr) return {};
    return pool->ConnectionFacts(*server);
  }

 private:
  // The status GetLastError would give: the host's or the transport's, as
  // for the RPC calls; a path that names no share, or no SMB client at all,
  // gives the code those calls give for a server out of reach.
  std::nullptr_t Failed(SessionPool* pool) {
    lastFailure_ = pool != nullptr ? Win32StatusOf(pool->LastFailure(), BadNetPath) : BadNetPath;
    return nullptr;
  }

  SambaClients& clients_;
  std::uint32_t lastFailure_ = 0;
};

// One open key on a host's registry, valid only in the session that opened
// it: once that session is gone every call on the key fails at once, and no
// new connection is made for it. Closing is best effort, since a failed close
// leaves nothing the tool could do.
class SambaRegistryKey : public RegistryKey {
 public:
  SambaRegistryKey(SessionPool& pool, std::string server, std::uint64_t session, const PolicyHandle& handle)
      : pool_(pool), server_(std::move(server)), session_(session), handle_(handle) {}

  ~SambaRegistryKey() override { Call(OpCloseKey, EncodeCloseKey(handle_)); }

  std::int32_t OpenKey(const std::string& path, std::unique_ptr<RegistryKey>& subKey) override {
    subKey.reset();
    auto reply = Call(OpOpenKey, EncodeOpenKey(handle_, Cp437ToUtf16(path), KeyRead));
    if (!reply) return static_cast<std::int32_t>(Win32StatusOf(pool_.LastFailure(), RpcServerUnavailable));
    auto decoded = DecodeOpenKey(reply->data(), reply->size());
    if (!decoded) return static_cast<std::int32_t>(RpcServerUnavailable);
    if (decoded->WError != 0) return static_cast<std::int32_t>(decoded->WError);
    subKey = std::make_unique<SambaRegistryKey>(pool_, server_, session_, decoded->Value);
    return 0;
  }

  std::int32_t QueryValue(const std::string& valueName, std::uint32_t& type, std::uint8_t* buffer,
                          std::uint32_t& size) override {
    if (buffer == nullptr) return InvalidParameter;
    // The host answers in UTF-16: twice the caller's bytes hold any string
    // that fits the caller's buffer once converted.
    std::uint32_t request = size > LargestValueRequest / 2 ? LargestValueRequest : size * 2;
    auto reply = Call(OpQueryValue, EncodeQueryValue(handle_, Cp437ToUtf16(valueName), request));
    if (!reply) return static_cast<std::int32_t>(Win32StatusOf(pool_.LastFailure(), RpcServerUnavailable));
    auto decoded = DecodeQueryValue(reply->data(), reply->size());
    if (!decoded) return static_cast<std::int32_t>(RpcServerUnavailable);
    if (decoded->WError != 0) return static_cast<std::int32_t>(decoded->WError);
    std::string data = AnsiRegistryData(decoded->Value.Type, decoded->Value.Data);
    if (data.size() > size) return MoreData;
    std::memcpy(buffer, data.data(), data.size());
    size = static_cast<std::uint32_t>(data.size());
    type = decoded->Value.Type;
    return 0;
  }

  std::int32_t EnumKey(std::uint32_t index, std::string& name) override {
    auto reply = Call(OpEnumKey, EncodeEnumKey(handle_, index, KeyNameBuffer));
    if (!reply) return static_cast<std::int32_t>(Win32StatusOf(pool_.LastFailure(), RpcServerUnavailable));
    auto decoded = DecodeEnumKey(reply->data(), reply->size());
    if (!decoded) return static_cast<std::int32_t>(RpcServerUnavailable);
    // ERROR_NO_MORE_ITEMS past the last subkey, as the host says it.
    if (decoded->WError != 0) return static_cast<std::int32_t>(decoded->WError);
    name = Utf16ToCp437(decoded->Value);
    return 0;
  }

 private:
  std::optional<std::vector<std::uint8_t>> Call(std::uint16_t opnum, const Bytes& request) {
    return pool_.Call(server_, RpcInterface::Registry, opnum, request, session_);
  }

  SessionPool& pool_;
  std::string server_;
  std::uint64_t session_;
  PolicyHandle handle_;
};

class SambaRegistry : public RegistryService {
 public:
  explicit SambaRegistry(SambaClients& clients) : clients_(clients) {}

  std::int32_t ConnectRegistry(const std::string& uncMachineName, std::unique_ptr<RegistryKey>& rootKey) override {
    rootKey.reset();
    std::optional<std::string> server = ServerNameOf(uncMachineName);
    SessionPool* pool = clients_.Pool();
    if (!server || pool == nullptr) return static_cast<std::int32_t>(BadNetPath);
    std::uint64_t session = 0;
    auto reply = pool->Call(*server, RpcInterface::Registry, OpOpenHKLM, EncodeOpenHKLM(MaximumAllowed), 0, &session);
    if (!reply) return static_cast<std::int32_t>(Win32StatusOf(pool->LastFailure(), BadNetPath));
    auto decoded = DecodeOpenHKLM(reply->data(), reply->size());
    if (!decoded) return static_cast<std::int32_t>(BadNetPath);
    if (decoded->WError != 0) return static_cast<std::int32_t>(decoded->WError);
    rootKey = std::make_unique<SambaRegistryKey>(*pool, *server, session, decoded->Value);
    return 0;
  }

 private:
  SambaClients& clients_;
};

class SambaSmbServices : public SmbServices {
 public:
  NetManagementService& Net() override { return net_; }
  UncFileService& Files() override { return files_; }
  RegistryService& Registry() override { return registry_; }
  HostAdminService& Admin() override { return *admin_; }

 private:
  SambaClients clients_;
  SambaNet net_{clients_};
  SambaFiles files_{clients_};
  SambaRegistry registry_{clients_};
  std::unique_ptr<HostAdminService> admin_ = MakeHostAdmin([this] { return clients_.Pool(); });
};

}  // namespace

std::unique_ptr<SmbServices> OpenSmbServices() { return std::make_unique<SambaSmbServices>(); }

}  // namespace quorvex::samba
