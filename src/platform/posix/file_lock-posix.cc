// flock: the lock belongs to the open file, so it goes when the last
// descriptor of it closes, which the kernel does for a process that dies.
// A forked worker would share that open file and keep the lock after the
// sweep's death for as long as it or anything it started lives: workers close
// the descriptors first thing (CloseFileLocksInChild).
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "core/file_lock.h"
#include "platform/posix/local_services.h"

namespace quorvex {
namespace {

// The descriptors of the locks held, for a forked child to close. Locks are
// taken and dropped by the sweep's main thread before and after its workers.
std::vector<int>& HeldDescriptors() {
  static std::vector<int> held;
  return held;
}

class FlockedFile final : public FileLock {
 public:
  explicit FlockedFile(int fd) : fd_(fd) { HeldDescriptors().push_back(fd); }
  ~FlockedFile() override {
    std::vector<int>& held = HeldDescriptors();
    for (auto it = held.begin(); it != held.end(); ++it) {
      if (*it == fd_) {
        held.erase(it);
        break;
      }
    }
    close(fd_);
  }

 private:
  int fd_;
};

}  // namespace

FileLockAttempt TakeFileLock(const std::filesystem::path& path) {
  FileLockAttempt attempt;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) {
    attempt.Reason = std::system_category().message(errno);
    return attempt;
  }
  int result;
  do {
    result = flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) {
      attempt.HeldElsewhere = true;
    } else {
      attempt.Reason = std::system_category().message(error);
    }
    return attempt;
  }
  attempt.Lock = std::make_unique<FlockedFile>(fd);
  return attempt;
}

namespace posix {

void CloseFileLocksInChild() {
  for (int fd : HeldDescriptors()) close(fd);
}

}  // namespace posix
}  // namespace quorvex
