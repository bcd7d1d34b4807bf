// The host's service control manager (svcctl, through Samba's generated
// marshalling) as call chains, so that the longest of the facts' waits can
// run on its own pipe while the checks go on over the same session.
//
// The manager's handles are not closed one by one: a handle belongs to its
// pipe, the pipe to the session, and the host lets them all go when the
// session ends, which is when the host's check ends. A close of each would
// be a round trip a service.
#pragma once

#include <memory>
#include <utility>
#include <string>
#include <vector>

#include "core/platform.h"
#include "platform/posix/samba/host_chain.h"

namespace quorvex::samba {

class ServiceChain : public HostChain {
 public:
  using HostChain::HostChain;
  // What it found, once it ended well.
  std::vector<ServiceInfo> TakeServices() { return std::move(services_); }

 protected:
  std::vector<ServiceInfo> services_;
};

// Every Win32 service of the host with its start type, logon account and
// display name (OpenSCManagerW, EnumServicesStatusExW, then OpenServiceW and
// QueryServiceConfigW a service).
std::unique_ptr<ServiceChain> ServiceListing();

// One service by its key name (code page 437) with its configuration and
// state (OpenSCManagerW, OpenServiceW, QueryServiceConfigW,
// QueryServiceStatus).
std::unique_ptr<ServiceChain> ServiceQuery(const std::string& name);

}  // namespace quorvex::samba
