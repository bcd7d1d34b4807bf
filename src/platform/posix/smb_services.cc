// Until the SMB client lands, every remote service fails the way an
// unreachable host fails; none pretends to succeed.
#include "platform/posix/smb_services.h"

#include "platform/posix/cp437.h"

namespace quorvex {
namespace {

constexpr std::uint32_t BadNetPath = 53;  // ERROR_BAD_NETPATH

class UnreachableNet : public NetManagementService {
 public:
  std::uint32_t GetWorkstationInfo(const std::string&, std::unique_ptr<WorkstationRecord>&) override {
    return BadNetPath;
  }
  std::uint32_t GetServerInfo(const std::string&, std::unique_ptr<ServerRecord>&) override {
    return BadNetPath;
  }
  std::string WideToAnsiText(std::u16string_view text) override { return Utf16ToCp437(text); }
};

class UnreachableFiles : public UncFileService {
 public:
  std::unique_ptr<FindHandle> FindFirst(const std::string&) override { return nullptr; }
  std::optional<DiskFreeSpace> QueryDiskFreeSpace(const std::string&) override { return std::nullopt; }
};

class UnreachableRegistry : public RegistryService {
 public:
  std::int32_t ConnectRegistry(const std::string&, std::unique_ptr<RegistryKey>&) override {
    return BadNetPath;
  }
};

class UnreachableSmb : public SmbServices {
 public:
  NetManagementService& Net() override { return net_; }
  UncFileService& Files() override { return files_; }
  RegistryService& Registry() override { return registry_; }

 private:
  UnreachableNet net_;
  UnreachableFiles files_;
  UnreachableRegistry registry_;
};

}  // namespace

std::unique_ptr<SmbServices> OpenSmbServices() { return std::make_unique<UnreachableSmb>(); }

}  // namespace quorvex
