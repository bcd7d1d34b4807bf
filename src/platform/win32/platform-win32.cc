#include "platform/win32/win32_backend.h"
#include "platform/win32/win32_headers.h"

namespace quorvex {
namespace {

class Win32Platform : public SystemPlatform {
 public:
  // argv is the C runtime's reading of the command line, which drops quotes
  // and splits on tabs; the checks parse the raw text themselves.
  std::string CommandText() override {
    const char* line = GetCommandLineA();
    return win32::CutProgramName(line != nullptr ? line : "");
  }
  Platform& Services() override { return services_; }

 private:
  std::unique_ptr<ConsoleService> console_ = win32::MakeConsoleService();
  std::unique_ptr<LookupService> lookup_ = win32::MakeLookupService();
  std::unique_ptr<EchoService> echo_ = win32::MakeEchoService();
  std::unique_ptr<NetManagementService> net_ = win32::MakeNetManagementService();
  std::unique_ptr<UncFileService> files_ = win32::MakeUncFileService();
  std::unique_ptr<RegistryService> registry_ = win32::MakeRegistryService();
  std::unique_ptr<HostAdminService> admin_ = win32::MakeHostAdminService();
  Platform services_{*console_, *lookup_, *echo_, *net_, *files_, *registry_, *admin_};
};

}  // namespace

std::unique_ptr<SystemPlatform> OpenSystemPlatform(int, char**) { return std::make_unique<Win32Platform>(); }

}  // namespace quorvex
