// LockFileEx on the first byte of the file. Windows drops a process's locks
// when it ends, with its handles. The handle is not inheritable, so a worker
// never holds it. Windows locks are mandatory for the range locked: another
// handle could not read or write that byte, which is why the sweep locks a
// file of its own beside the records rather than the records themselves.
#include <system_error>

#include "core/file_lock.h"
#include "platform/win32/win32_headers.h"

namespace quorvex {
namespace {

class LockedFile final : public FileLock {
 public:
  explicit LockedFile(HANDLE handle) : handle_(handle) {}
  ~LockedFile() override { CloseHandle(handle_); }  // closing the handle unlocks

 private:
  HANDLE handle_;
};

std::string Reason(DWORD error) { return std::system_category().message(static_cast<int>(error)); }

}  // namespace

FileLockAttempt TakeFileLock(const std::filesystem::path& path) {
  FileLockAttempt attempt;
  const HANDLE handle =
      CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    attempt.Reason = Reason(GetLastError());
    return attempt;
  }
  OVERLAPPED at{};
  if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const DWORD error = GetLastError();
    CloseHandle(handle);
    if (error == ERROR_LOCK_VIOLATION) {
      attempt.HeldElsewhere = true;
    } else {
      attempt.Reason = Reason(error);
    }
    return attempt;
  }
  attempt.Lock = std::make_unique<LockedFile>(handle);
  return attempt;
}

}  // namespace quorvex
