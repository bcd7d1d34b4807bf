// The Linux platform: local services from this folder, remote ones from the
// SMB client in samba/, which starts Samba on the first remote call only
// (smb_services.h).
#include <csignal>
#include <memory>
#include <utility>

#include "core/platform.h"
#include "platform/posix/local_services.h"
#include "platform/posix/run_clock.h"
#include "platform/posix/samba/smb_services.h"

namespace quorvex::posix {
namespace {

// The ping has bounds of its own (two attempts of EchoTimeoutMs), which the
// run's budget does not cover: its time moves the run's deadline on.
class UnchargedEchoHandle : public EchoHandle {
 public:
  explicit UnchargedEchoHandle(std::unique_ptr<EchoHandle> inner) : inner_(std::move(inner)) {}
  EchoReply SendEcho(const Ipv4Address& destination, std::uint32_t timeoutMs) override {
    SteadyClock::time_point start = SteadyClock::now();
    EchoReply reply = inner_->SendEcho(destination, timeoutMs);
    ExtendRunDeadline(SteadyClock::now() - start);
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
    StartRunClock();
  }
};

class LinuxPlatform : public SystemPlatform {
 public:
  LinuxPlatform(int argc, char** argv)
      : text_(CommandTextFromArguments(argc, argv)),
        console_(OpenConsole()),
        lookup_(OpenLookup()),
        echo_(std::make_unique<UnchargedEcho>(OpenEcho())),
        smb_(samba::OpenSmbServices()),
        services_{*console_, *lookup_, *echo_, smb_->Net(), smb_->Files(), smb_->Registry(), smb_->Admin()} {}

  std::string CommandText() override { return text_; }
  Platform& Services() override { return services_; }

 private:
  RunStart start_;
  std::string text_;
  std::unique_ptr<ConsoleService> console_;
  std::unique_ptr<LookupService> lookup_;
  std::unique_ptr<EchoService> echo_;
  // Declared before the services that refer to it, so it outlives them.
  std::unique_ptr<samba::SmbServices> smb_;
  Platform services_;
};

}  // namespace
}  // namespace quorvex::posix

namespace quorvex {

std::unique_ptr<SystemPlatform> OpenSystemPlatform(int argc, char** argv) {
  return std::make_unique<posix::LinuxPlatform>(argc, argv);
}

}  // namespace quorvex
