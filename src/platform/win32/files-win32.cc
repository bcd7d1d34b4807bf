#include "platform/win32/win32_backend.h"
#include "platform/win32/win32_headers.h"

namespace quorvex::win32 {
namespace {

class Win32FindHandle : public FindHandle {
 public:
  explicit Win32FindHandle(HANDLE handle) : handle_(handle) {}
  ~Win32FindHandle() override { FindClose(handle_); }
  Win32FindHandle(const Win32FindHandle&) = delete;
  Win32FindHandle& operator=(const Win32FindHandle&) = delete;

 private:
  HANDLE handle_;
};

// Critical-error boxes ("drive not ready", "cannot open file") would stop an
// unattended batch run on a dialog nobody sees; the previous mode comes back
// right after, since the mode is process-wide.
class QuietErrorMode {
 public:
  QuietErrorMode() : previous_(SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)) {}
  ~QuietErrorMode() { SetErrorMode(previous_); }
  QuietErrorMode(const QuietErrorMode&) = delete;
  QuietErrorMode& operator=(const QuietErrorMode&) = delete;

 private:
  UINT previous_;
};

constexpr DWORD SmbNetwork = 0x00020000;  // WNNC_NET_SMB

class Win32UncFiles : public UncFileService {
 public:
  std::unique_ptr<FindHandle> FindFirst(const std::string& path) override {
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileA(path.c_str(), &data);
    if (handle == INVALID_HANDLE_VALUE) {
      lastFailure_ = GetLastError();
      return nullptr;
    }
    return std::make_unique<Win32FindHandle>(handle);
  }

  std::optional<DiskFreeSpace> QueryDiskFreeSpace(const std::string& rootPath) override {
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    BOOL ok;
    {
      QuietErrorMode quiet;
      ok = GetDiskFreeSpaceA(rootPath.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters);
      if (!ok) lastFailure_ = GetLastError();  // before the old error mode comes back
    }
    if (!ok) return std::nullopt;
    DiskFreeSpace space;
    space.SectorsPerCluster = sectorsPerCluster;
    space.BytesPerSector = bytesPerSector;
    space.FreeClusters = freeClusters;
    space.TotalClusters = totalClusters;
    return space;
  }

  std::uint32_t LastFailure() override { return lastFailure_; }

  // A handle on the share's root rides the connection the calls made; asking
  // it needs no right beyond opening admin$, which the checks already need.
  // Windows does not tell whether the server required signing.
  SmbConnectionFacts ConnectionFacts(const std::string& uncServerName) override {
    HANDLE handle;
    {
      QuietErrorMode quiet;
      handle = CreateFileA((uncServerName + "\\admin$\\").c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    }
    if (handle == INVALID_HANDLE_VALUE) return {};
    FILE_REMOTE_PROTOCOL_INFO info{};
    const BOOL ok = GetFileInformationByHandleEx(handle, FileRemoteProtocolInfo, &info, sizeof info);
    CloseHandle(handle);
    if (!ok) return {};
    SmbConnectionFacts facts;
    facts.Dialect = DialectOfRemoteProtocol(info.Protocol, info.ProtocolMajorVersion, info.ProtocolMinorVersion,
                                            info.ProtocolRevision);
    return facts;
  }

 private:
  DWORD lastFailure_ = 0;
};

}  // namespace

std::uint16_t DialectOfRemoteProtocol(std::uint32_t protocol, std::uint16_t major, std::uint16_t minor,
                                      std::uint16_t revision) {
  if (protocol != SmbNetwork || major < 2 || major > 0xF || minor > 0xF || revision > 0xF) return 0;
  return static_cast<std::uint16_t>(major << 8 | minor << 4 | revision);
}

std::unique_ptr<UncFileService> MakeUncFileService() { return std::make_unique<Win32UncFiles>(); }

}  // namespace quorvex::win32
