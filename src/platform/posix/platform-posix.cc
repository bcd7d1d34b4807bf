// Placeholder backend: replaced by the real Linux services.
#include <unistd.h>

#include "platform/platform.h"

namespace quorvex {
namespace {

class StubConsole : public ConsoleService {
 public:
  void WriteOutput(std::string_view bytes) override {
    ssize_t ignored = write(1, bytes.data(), bytes.size());
    (void)ignored;
  }
  void SetTitle(const std::string&) override {}
  void Sleep(std::uint32_t ms) override { usleep(ms * 1000); }
};
class StubLookup : public LookupService {
 public:
  std::optional<Ipv4Address> FirstAddressOf(const std::string&) override { return std::nullopt; }
  std::optional<std::string> OfficialNameOf(const Ipv4Address&) override { return std::nullopt; }
  std::string LocalHostName() override { return {}; }
  std::optional<Ipv4Address> InetAddr(const std::string&) override { return std::nullopt; }
};
class StubEcho : public EchoService {
 public:
  std::unique_ptr<EchoHandle> CreateEchoHandle() override { return nullptr; }
};
class StubNet : public NetManagementService {
 public:
  std::uint32_t GetWorkstationInfo(const std::string&, std::unique_ptr<WorkstationRecord>&) override { return 53; }
  std::uint32_t GetServerInfo(const std::string&, std::unique_ptr<ServerRecord>&) override { return 53; }
  std::string WideToAnsiText(std::u16string_view) override { return {}; }
};
class StubFiles : public UncFileService {
 public:
  std::unique_ptr<FindHandle> FindFirst(const std::string&) override { return nullptr; }
  std::optional<DiskFreeSpace> QueryDiskFreeSpace(const std::string&) override { return std::nullopt; }
};
class StubRegistry : public RegistryService {
 public:
  std::int32_t ConnectRegistry(const std::string&, std::unique_ptr<RegistryKey>&) override { return 53; }
};

class StubPlatform : public SystemPlatform {
 public:
  StubPlatform(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
      if (i > 1) text_ += ' ';
      text_ += argv[i];
    }
  }
  std::string CommandText() override { return text_; }
  Platform& Services() override { return services_; }

 private:
  std::string text_;
  StubConsole console_;
  StubLookup lookup_;
  StubEcho echo_;
  StubNet net_;
  StubFiles files_;
  StubRegistry registry_;
  Platform services_{console_, lookup_, echo_, net_, files_, registry_};
};

}  // namespace

std::unique_ptr<SystemPlatform> OpenSystemPlatform(int argc, char** argv) {
  return std::make_unique<StubPlatform>(argc, argv);
}

}  // namespace quorvex
