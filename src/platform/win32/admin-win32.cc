// The host administration calls beyond the checks; not answered yet.
#include "platform/win32/win32_backend.h"
#include "platform/win32/win32_headers.h"

namespace quorvex::win32 {
namespace {

class Win32HostAdmin : public HostAdminService {
 public:
  CallStatus RemoteClock(const std::string&, std::int64_t&, std::int64_t&) override {
    return {ERROR_NOT_SUPPORTED, "NetRemoteTOD"};
  }
  CallStatus ListServices(const std::string&, std::vector<ServiceInfo>&) override {
    return {ERROR_NOT_SUPPORTED, "OpenSCManagerW"};
  }
  CallStatus QueryService(const std::string&, const std::string&, ServiceInfo&) override {
    return {ERROR_NOT_SUPPORTED, "OpenSCManagerW"};
  }
  CallStatus LocalAdministrators(const std::string&, std::vector<AccountInfo>&) override {
    return {ERROR_NOT_SUPPORTED, "NetLocalGroupGetMembers"};
  }
  CallStatus LookupSids(const std::string&, std::vector<AccountInfo>&) override {
    return {ERROR_NOT_SUPPORTED, "LsaLookupSids"};
  }
  CallStatus HostDomains(const std::string&, std::string&, std::string&) override {
    return {ERROR_NOT_SUPPORTED, "LsaQueryInformationPolicy"};
  }
};

}  // namespace

std::unique_ptr<HostAdminService> MakeHostAdminService() { return std::make_unique<Win32HostAdmin>(); }

}  // namespace quorvex::win32
