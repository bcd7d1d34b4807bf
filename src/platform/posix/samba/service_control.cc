#include "platform/posix/samba/service_control.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "core/encoding.h"
#include "platform/posix/samba/ndr.h"
#include "platform/posix/samba/samba_abi.h"
#include "platform/posix/samba/smb_text.h"
#include "platform/posix/samba/win32_status.h"

extern "C" {
#include <core/ntstatus.h>
#include <core/werror.h>
#include <gen_ndr/ndr_svcctl.h>
#include <gen_ndr/svcctl.h>
}

namespace quorvex::samba {
namespace {

// The Win32 calls each request stands for, as CallStatus names them.
constexpr const char* OpenSCManager = "OpenSCManagerW";
constexpr const char* EnumServices = "EnumServicesStatusExW";
constexpr const char* OpenService = "OpenServiceW";
constexpr const char* QueryServiceConfig = "QueryServiceConfigW";
constexpr const char* QueryServiceStatus = "QueryServiceStatus";

constexpr std::uint32_t ServiceWin32 = 0x30;      // SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS
constexpr std::uint32_t ConfigBufferSize = 8192;  // the most QueryServiceConfigW may be offered
// What one reply fragment carries: the hosts with few services (Samba's
// four) answer in one, the others say how much the rest needs.
constexpr std::uint32_t FirstEnumerationSize = 0x1000;
constexpr std::uint32_t LargestEnumerationSize = 0x40000;  // the most EnumServicesStatus may be offered
// A host that keeps answering "more data" without progress is not followed
// for ever.
constexpr int MaxEnumerationRounds = 64;

std::string Utf8Of(const std::u16string& text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xff));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return Utf16ToUtf8(bytes, false);
}

// The requests both chains make, each filled anew for its turn, and the
// reading of their replies. A reply the host refused ends the chain with
// the host's WERROR, which is a Win32 code already.
class ServiceRequests : public ServiceChain {
 public:
  ServiceRequests() : ServiceChain(OpenSCManager) {}

 protected:
  Request Succeed(std::vector<ServiceInfo> services) {
    services_ = std::move(services);
    return HostChain::Succeed();
  }
  bool Refused(WERROR result) {
    if (W_ERROR_IS_OK(result)) return false;
    Fail(W_ERROR_V(result));
    return true;
  }

  Request AskManager() {
    Asking(OpenSCManager);
    openManager_ = {};
    openManager_.in.MachineName = nullptr;  // the pipe already names the host
    openManager_.in.DatabaseName = nullptr;
    openManager_.in.access_mask = SC_RIGHT_MGR_CONNECT | SC_RIGHT_MGR_ENUMERATE_SERVICE;
    openManager_.out.handle = &manager_;
    return {NDR_SVCCTL_OPENSCMANAGERW, &openManager_};
  }
  bool TookManager() {
    if (Refused(openManager_.out.result)) return false;
    if (openManager_.out.handle != nullptr) manager_ = *openManager_.out.handle;
    return true;
  }

  Request AskService(std::string utf8Name) {
    Asking(OpenService);
    serviceName_ = std::move(utf8Name);
    openService_ = {};
    openService_.in.scmanager_handle = &manager_;
    openService_.in.ServiceName = serviceName_.c_str();
    openService_.in.access_mask = SC_RIGHT_SVC_QUERY_CONFIG | SC_RIGHT_SVC_QUERY_STATUS;
    openService_.out.handle = &service_;
    return {NDR_SVCCTL_OPENSERVICEW, &openService_};
  }
  bool TookService() {
    if (Refused(openService_.out.result)) return false;
    if (openService_.out.handle != nullptr) service_ = *openService_.out.handle;
    return true;
  }

  // Start type, logon account and display name (kept when the host sends
  // none).
  Request AskConfig() {
    Asking(QueryServiceConfig);
    config_ = {};
    queryConfig_ = {};
    needed_ = 0;
    queryConfig_.in.handle = &service_;
    queryConfig_.in.offered = ConfigBufferSize;
    queryConfig_.out.query = &config_;
    queryConfig_.out.needed = &needed_;
    return {NDR_SVCCTL_QUERYSERVICECONFIGW, &queryConfig_};
  }
  bool TookConfig(ServiceInfo& info) {
    if (Refused(queryConfig_.out.result)) return false;
    const QUERY_SERVICE_CONFIG* config = queryConfig_.out.query;
    if (config == nullptr) {
      Fail(Win32::InvalidData);
      return false;
    }
    info.StartType = static_cast<std::uint32_t>(config->start_type);
    info.Account = Cp437OfUtf8(config->startname);
    if (config->displayname != nullptr) info.DisplayName = Cp437OfUtf8(config->displayname);
    return true;
  }

  Request AskState() {
    Asking(QueryServiceStatus);
    state_ = {};
    queryState_ = {};
    queryState_.in.handle = &service_;
    queryState_.out.service_status = &state_;
    return {NDR_SVCCTL_QUERYSERVICESTATUS, &queryState_};
  }
  bool TookState(ServiceInfo& info) {
    if (Refused(queryState_.out.result)) return false;
    if (queryState_.out.service_status == nullptr) {
      Fail(Win32::InvalidData);
      return false;
    }
    info.State = static_cast<std::uint32_t>(queryState_.out.service_status->state);
    return true;
  }

  // One round of the enumeration. The older call rather than
  // EnumServicesStatusExW: every Windows answers it with the same records
  // but for the process, which nothing here needs, and Samba has no other.
  Request AskRound(std::uint32_t offered, std::uint32_t resume) {
    Asking(EnumServices);
    buffer_.assign(offered, 0);
    resume_ = resume;
    needed_ = 0;
    returned_ = 0;
    enumerate_ = {};
    enumerate_.in.handle = &manager_;
    enumerate_.in.type = ServiceWin32;
    enumerate_.in.state = SERVICE_STATE_ALL;
    enumerate_.in.offered = offered;
    enumerate_.in.resume_handle = &resume_;
    enumerate_.out.service = buffer_.data();
    enumerate_.out.needed = &needed_;
    enumerate_.out.services_returned = &returned_;
    enumerate_.out.resume_handle = &resume_;
    return {NDR_SVCCTL_ENUMSERVICESSTATUSW, &enumerate_};
  }
  const svcctl_EnumServicesStatusW& Round() const { return enumerate_; }

 private:
  policy_handle manager_{};
  policy_handle service_{};
  std::string serviceName_;
  svcctl_OpenSCManagerW openManager_{};
  svcctl_OpenServiceW openService_{};
  QUERY_SERVICE_CONFIG config_{};
  std::uint32_t needed_ = 0;
  svcctl_QueryServiceConfigW queryConfig_{};
  SERVICE_STATUS state_{};
  svcctl_QueryServiceStatus queryState_{};
  std::vector<std::uint8_t> buffer_;
  std::uint32_t resume_ = 0;
  std::uint32_t returned_ = 0;
  svcctl_EnumServicesStatusW enumerate_{};
};

// Every Win32 service the host lists, in as many rounds as it takes: a host
// with more than a buffer holds answers "more data" with the records that fit
// (Windows) or none (Samba), how much the rest needs and where to resume.
// The reply carries the whole buffer offered, so the first offer is small.
// Then each service's configuration, one after another.
class Listing final : public ServiceRequests {
 public:
  Request First() override { return AskManager(); }

  Request Answered() override {
    switch (stage_) {
      case Stage::Manager:
        if (!TookManager()) return {};
        stage_ = Stage::Enumerate;
        return AskRound(offered_, 0);
      case Stage::Enumerate:
        return AfterRound();
      case Stage::Service:
        if (!TookService()) return {};
        stage_ = Stage::Config;
        return AskConfig();
      case Stage::Config:
        if (!TookConfig(current_)) return {};
        found_.push_back(std::move(current_));
        return NextService();
    }
    return {};
  }

 private:
  enum class Stage { Manager, Enumerate, Service, Config };

  Request AfterRound() {
    const svcctl_EnumServicesStatusW& r = Round();
    const bool more = W_ERROR_EQUAL(r.out.result, WERR_MORE_DATA);
    if (!more && Refused(r.out.result)) return {};
    const std::uint8_t* data = r.out.service;
    const std::uint32_t returned = r.out.services_returned != nullptr ? *r.out.services_returned : 0;
    auto decoded = DecodeServiceEntries(data, data != nullptr ? r.in.offered : 0, returned,
                                        ServiceRecordLayout::Status);
    if (!decoded) return Fail(Win32::InvalidData);
    entries_.insert(entries_.end(), decoded->begin(), decoded->end());
    if (!more) {
      found_.reserve(entries_.size());
      stage_ = Stage::Service;
      return NextService();
    }
    const std::uint32_t needed = r.out.needed != nullptr ? *r.out.needed : 0;
    if (++rounds_ >= MaxEnumerationRounds ||
        (returned == 0 && (offered_ >= LargestEnumerationSize || needed <= offered_))) {
      return Fail(Win32::MoreData);
    }
    offered_ = std::clamp(needed, offered_, LargestEnumerationSize);
    return AskRound(offered_, r.out.resume_handle != nullptr ? *r.out.resume_handle : 0);
  }

  Request NextService() {
    if (next_ == entries_.size()) return Succeed(std::move(found_));
    const ServiceEntry& entry = entries_[next_++];
    current_ = {};
    current_.Name = Utf16ToCp437(entry.Name);
    current_.DisplayName = Utf16ToCp437(entry.DisplayName);
    current_.State = entry.State;
    stage_ = Stage::Service;
    return AskService(Utf8Of(entry.Name));
  }

  Stage stage_ = Stage::Manager;
  std::uint32_t offered_ = FirstEnumerationSize;
  int rounds_ = 0;
  std::vector<ServiceEntry> entries_;
  std::size_t next_ = 0;
  ServiceInfo current_;
  std::vector<ServiceInfo> found_;
};

class Query final : public ServiceRequests {
 public:
  explicit Query(const std::string& name) { info_.Name = name; }

  Request First() override { return AskManager(); }

  Request Answered() override {
    switch (stage_) {
      case Stage::Manager:
        if (!TookManager()) return {};
        stage_ = Stage::Service;
        return AskService(Cp437ToUtf8(info_.Name));
      case Stage::Service:
        if (!TookService()) return {};
        stage_ = Stage::Config;
        return AskConfig();
      case Stage::Config:
        if (!TookConfig(info_)) return {};
        stage_ = Stage::State;
        return AskState();
      case Stage::State:
        if (!TookState(info_)) return {};
        return Succeed({std::move(info_)});
    }
    return {};
  }

 private:
  enum class Stage { Manager, Service, Config, State };
  Stage stage_ = Stage::Manager;
  ServiceInfo info_;
};

}  // namespace

std::unique_ptr<ServiceChain> ServiceListing() { return std::make_unique<Listing>(); }

std::unique_ptr<ServiceChain> ServiceQuery(const std::string& name) { return std::make_unique<Query>(name); }

}  // namespace quorvex::samba
