#include "platform/posix/smb_share.h"

#include <sys/statvfs.h>
#include <sys/types.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include <libsmbclient.h>

extern "C" {
// libsamba-util: where the s3 configuration is loaded from. Pointing it at an
// empty file keeps the machine's smb.conf out of the run.
const char* set_dyn_CONFIGFILE(const char* newpath);
// libsmbconf: a parameter that no configuration file can override.
bool lp_set_cmdline(const char* pszParmName, const char* pszParmValue);
}

namespace quorvex::smb {
namespace {

void DropLogMessage(void*, int, const char*) {}

void CopyBounded(char* target, int capacity, const std::string& value) {
  if (capacity <= 0) return;
  std::size_t length = std::min(value.size(), static_cast<std::size_t>(capacity - 1));
  std::memcpy(target, value.data(), length);
  target[length] = '\0';
}

class SambaShareClient : public ShareClient {
 public:
  SambaShareClient(SMBCCTX* context, const Logon& logon) : context_(context), logon_(logon) {}

  ~SambaShareClient() override {
    if (context_ == nullptr) return;
    smbc_free_context(context_, 1);
  }

  bool Exists(const std::string& url) override {
    if (!Ready()) return false;
    struct stat st {};
    std::vector<char> path(url.begin(), url.end());
    path.push_back('\0');
    return smbc_getFunctionStat(context_)(context_, path.data(), &st) == 0;
  }

  std::optional<DiskFreeSpace> FreeSpace(const std::string& url) override {
    if (!Ready()) return std::nullopt;
    struct statvfs vfs {};
    std::vector<char> path(url.begin(), url.end());
    path.push_back('\0');
    if (smbc_getFunctionStatVFS(context_)(context_, path.data(), &vfs) != 0) return std::nullopt;
    SmbVolumeCounters counters;
    counters.BlockSize = vfs.f_bsize;
    counters.FragmentSize = vfs.f_frsize;
    counters.Blocks = vfs.f_blocks;
    counters.AvailableBlocks = vfs.f_bavail;
    counters.NoUnixExtensions = (vfs.f_flag & SMBC_VFS_FEATURE_NO_UNIXCIFS) != 0;
    return DiskFreeSpaceOf(counters);
  }

 private:
  static void Authenticate(SMBCCTX* context, const char*, const char*, char* workgroup, int workgroupLength,
                           char* user, int userLength, char* password, int passwordLength) {
    auto* self = static_cast<SambaShareClient*>(smbc_getOptionUserData(context));
    if (self == nullptr) return;
    if (!self->logon_.Domain.empty()) CopyBounded(workgroup, workgroupLength, self->logon_.Domain);
    CopyBounded(user, userLength, self->logon_.User);
    CopyBounded(password, passwordLength, self->logon_.Password);
  }

  bool Ready() {
    if (initialised_) return usable_;
    initialised_ = true;
    smbc_setOptionUserData(context_, this);
    smbc_setFunctionAuthDataWithContext(context_, &SambaShareClient::Authenticate);
    usable_ = smbc_init_context(context_) != nullptr;
    if (usable_) {
      // The system resolver, then a NetBIOS broadcast; no WINS, no lmhosts.
      lp_set_cmdline("name resolve order", "host bcast");
    }
    return usable_;
  }

  SMBCCTX* context_;
  Logon logon_;
  bool initialised_ = false;
  bool usable_ = false;
};

}  // namespace

std::unique_ptr<ShareClient> ShareClient::Open(const Logon& logon, const std::string& workstation,
                                               bool useKerberosCache) {
  // Before the first context: the library loads its configuration once.
  set_dyn_CONFIGFILE("/dev/null");
  SMBCCTX* context = smbc_new_context();
  if (context == nullptr) return nullptr;
  smbc_setDebug(context, 0);
  smbc_setLogCallback(context, nullptr, &DropLogMessage);
  smbc_setNetbiosName(context, const_cast<char*>(workstation.c_str()));
  if (!logon.Domain.empty()) smbc_setWorkgroup(context, const_cast<char*>(logon.Domain.c_str()));
  smbc_setUser(context, const_cast<char*>(logon.User.c_str()));
  smbc_setTimeout(context, RequestBoundMs);
  smbc_setOptionNoAutoAnonymousLogin(context, 1);
  smbc_setOptionUseKerberos(context, useKerberosCache ? 1 : 0);
  smbc_setOptionUseCCache(context, useKerberosCache ? 1 : 0);
  smbc_setOptionFallbackAfterKerberos(context, 1);
  return std::make_unique<SambaShareClient>(context, logon);
}

}  // namespace quorvex::smb
