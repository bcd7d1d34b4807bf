// The services that reach a remote Windows host over SMB: network management,
// the admin$ share, the remote registry and the host administration calls. They share one SMB session per
// host for the whole run, so they are made together.
#pragma once

#include <memory>

#include "core/platform.h"

namespace quorvex::samba {

class SmbServices {
 public:
  virtual ~SmbServices() = default;
  virtual NetManagementService& Net() = 0;
  virtual UncFileService& Files() = 0;
  virtual RegistryService& Registry() = 0;
  virtual HostAdminService& Admin() = 0;
};

std::unique_ptr<SmbServices> OpenSmbServices();

}  // namespace quorvex::samba
