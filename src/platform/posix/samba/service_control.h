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
#include <string>
#include <vector>

#include "core/platform.h"
#include "platform/posix/samba/session_pool.h"

namespace quorvex::samba {

class ServiceChain : public CallChain {
 public:
  // What the chain ended with: 0, or the status of the Win32 call that
  // failed (also when the chain never ended).
  virtual CallStatus Status() const = 0;
  // Whether it ended because a request could not be made or did not come
  // back (rather than by the host's answer).
  virtual bool TransportFailed() const = 0;
  // What it found, once it ended well.
  virtual std::vector<ServiceInfo> TakeServices() = 0;
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
