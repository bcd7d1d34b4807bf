// The Linux platform: local services from this folder, remote ones from the
// SMB client.
#include "platform/platform.h"
#include "platform/posix/local_services.h"
#include "platform/posix/smb_services.h"

namespace quorvex {
namespace {

class LinuxPlatform : public SystemPlatform {
 public:
  LinuxPlatform(int argc, char** argv)
      : text_(posix::CommandTextFromArguments(argc, argv)),
        console_(posix::OpenConsole()),
        lookup_(posix::OpenLookup()),
        echo_(posix::OpenEcho()),
        smb_(OpenSmbServices()),
        services_{*console_, *lookup_, *echo_, smb_->Net(), smb_->Files(), smb_->Registry()} {}

  std::string CommandText() override { return text_; }
  Platform& Services() override { return services_; }

 private:
  std::string text_;
  std::unique_ptr<ConsoleService> console_;
  std::unique_ptr<LookupService> lookup_;
  std::unique_ptr<EchoService> echo_;
  std::unique_ptr<SmbServices> smb_;
  Platform services_;
};

}  // namespace

std::unique_ptr<SystemPlatform> OpenSystemPlatform(int argc, char** argv) {
  return std::make_unique<LinuxPlatform>(argc, argv);
}

}  // namespace quorvex
