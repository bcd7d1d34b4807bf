// Files on a host's shares through libsmbclient: one context for the run,
// each request bounded by RequestBoundMs once the TCP connection stands (the
// library's own connect gives up after a few seconds).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/posix/smb_text.h"

namespace quorvex::smb {

inline constexpr int RequestBoundMs = 10000;

class ShareClient {
 public:
  // Null when the library cannot be set up. From the moment this returns,
  // Samba's log messages of every library in the process go nowhere: some are
  // printed whatever the log level, and the tool's output is its lines only.
  // The SMB part of the context is set up on first use.
  static std::unique_ptr<ShareClient> Open(const Logon& logon, const std::string& workstation,
                                           bool useKerberosCache);
  virtual ~ShareClient() = default;
  // url is an smb:// URL (see SmbUrlOf).
  virtual bool Exists(const std::string& url) = 0;
  virtual std::optional<DiskFreeSpace> FreeSpace(const std::string& url) = 0;
};

}  // namespace quorvex::smb
