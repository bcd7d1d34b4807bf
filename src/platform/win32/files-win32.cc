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

 private:
  DWORD lastFailure_ = 0;
};

}  // namespace

std::unique_ptr<UncFileService> MakeUncFileService() { return std::make_unique<Win32UncFiles>(); }

}  // namespace quorvex::win32
