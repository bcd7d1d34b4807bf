// The Linux platform: local services from this folder, remote ones from the
// SMB client. The SMB client is started on the first remote call only, so
// runs that end earlier (usage text, a bad value, an unresolved host, a host
// that does not answer the ping) never initialise Samba.
#include <csignal>
#include <memory>
#include <utility>

#include "platform/platform.h"
#include "platform/posix/local_services.h"
#include "platform/posix/run_clock.h"
#include "platform/posix/samba/smb_services.h"

namespace quorvex {
namespace {

class DeferredSmb {
 public:
  SmbServices& Get() {
    if (!smb_) smb_ = OpenSmbServices();
    return *smb_;
  }

 private:
  std::unique_ptr<SmbServices> smb_;
};

class DeferredNet : public NetManagementService {
 public:
  explicit DeferredNet(DeferredSmb& smb) : smb_(smb) {}
  std::uint32_t GetWorkstationInfo(const std::string& uncServerName,
                                   std::unique_ptr<WorkstationRecord>& record) override {
    return smb_.Get().Net().GetWorkstationInfo(uncServerName, record);
  }
  std::uint32_t GetServerInfo(const std::string& uncServerName, std::unique_ptr<ServerRecord>& record) override {
    return smb_.Get().Net().GetServerInfo(uncServerName, record);
  }
  std::string WideToAnsiText(std::u16string_view text) override { return smb_.Get().Net().WideToAnsiText(text); }

 private:
  DeferredSmb& smb_;
};

class DeferredFiles : public UncFileService {
 public:
  explicit DeferredFiles(DeferredSmb& smb) : smb_(smb) {}
  std::unique_ptr<FindHandle> FindFirst(const std::string& path) override { return smb_.Get().Files().FindFirst(path); }
  std::optional<DiskFreeSpace> QueryDiskFreeSpace(const std::string& rootPath) override {
    return smb_.Get().Files().QueryDiskFreeSpace(rootPath);
  }

 private:
  DeferredSmb& smb_;
};

class DeferredRegistry : public RegistryService {
 public:
  explicit DeferredRegistry(DeferredSmb& smb) : smb_(smb) {}
  std::int32_t ConnectRegistry(const std::string& uncMachineName, std::unique_ptr<RegistryKey>& rootKey) override {
    return smb_.Get().Registry().ConnectRegistry(uncMachineName, rootKey);
  }

 private:
  DeferredSmb& smb_;
};

// The ping has bounds of its own (two attempts of EchoTimeoutMs), which the
// run's budget does not cover: its time moves the run's deadline on.
class UnchargedEchoHandle : public EchoHandle {
 public:
  explicit UnchargedEchoHandle(std::unique_ptr<EchoHandle> inner) : inner_(std::move(inner)) {}
  EchoReply SendEcho(const Ipv4Address& destination, std::uint32_t timeoutMs) override {
    posix::SteadyClock::time_point start = posix::SteadyClock::now();
    EchoReply reply = inner_->SendEcho(destination, timeoutMs);
    posix::ExtendRunDeadline(posix::SteadyClock::now() - start);
    return reply;
  }

 private:
  std::unique_ptr<EchoHandle> inner_;
};

class UnchargedEcho : public EchoService {
 public:
  explicit UnchargedEcho(std::unique_ptr<EchoService> inner) : inner_(std::move(inner)) {}
  std::unique_ptr<EchoHandle> CreateEchoHandle() override {
    std::unique_ptr<EchoHandle> handle = inner_->CreateEchoHandle();
    if (!handle) return nullptr;
    return std::make_unique<UnchargedEchoHandle>(std::move(handle));
  }

 private:
  std::unique_ptr<EchoService> inner_;
};

// Runs first, before any member opens anything.
struct RunStart {
  RunStart() {
    // A write to a connection the host already closed must fail that write
    // (and with it the call), not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    posix::StartRunClock();
  }
};

class LinuxPlatform : public SystemPlatform {
 public:
  LinuxPlatform(int argc, char** argv)
      : text_(posix::CommandTextFromArguments(argc, argv)),
        console_(posix::OpenConsole()),
        lookup_(posix::OpenLookup()),
        echo_(std::make_unique<UnchargedEcho>(posix::OpenEcho())),
        net_(smb_),
        files_(smb_),
        registry_(smb_),
        services_{*console_, *lookup_, *echo_, net_, files_, registry_} {}

  std::string CommandText() override { return text_; }
  Platform& Services() override { return services_; }

 private:
  RunStart start_;
  std::string text_;
  std::unique_ptr<ConsoleService> console_;
  std::unique_ptr<LookupService> lookup_;
  std::unique_ptr<EchoService> echo_;
  // Declared before the services that refer to it, so it outlives them.
  DeferredSmb smb_;
  DeferredNet net_;
  DeferredFiles files_;
  DeferredRegistry registry_;
  Platform services_;
};

}  // namespace

std::unique_ptr<SystemPlatform> OpenSystemPlatform(int argc, char** argv) {
  return std::make_unique<LinuxPlatform>(argc, argv);
}

}  // namespace quorvex
