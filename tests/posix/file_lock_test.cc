// The lock of a records file and the processes around it: gone with a killed
// holder, and not kept alive by a forked worker once the holder lets go.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "core/file_lock.h"
#include "platform/posix/local_services.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

TEST(FileLock, GoesWithItsProcessAndNotWithItsWorkers) {
  struct Case {
    const char* What;
    bool HolderIsChild;        // the child takes the lock and is killed holding it
    bool ChildClosesCopies;    // else the parent holds it, and a forked child shares it
    bool FreeWhileChildLives;  // whether the parent, having let go, may take it again
  };
  const Case cases[] = {
      {"holder killed", true, false, true},
      {"worker closed its copies", false, true, true},
      {"worker kept its copies", false, false, false},
  };
  const fs::path path = fs::temp_directory_path() / ("quorvex-flock-" + std::to_string(std::random_device{}()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    std::unique_ptr<FileLock> mine;
    if (!c.HolderIsChild) {
      mine = TakeFileLock(path).Lock;
      ASSERT_TRUE(mine);
    }
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FileLockAttempt held;
      if (c.HolderIsChild) held = TakeFileLock(path);
      if (c.ChildClosesCopies) posix::CloseFileLocksInChild();
      const char ok = c.HolderIsChild && !held.Lock ? 'n' : 'y';
      [[maybe_unused]] const ssize_t ignored = write(ready[1], &ok, 1);
      pause();
      _exit(0);
    }
    close(ready[1]);
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    close(ready[0]);
    ASSERT_EQ(ok, 'y');
    EXPECT_TRUE(TakeFileLock(path).HeldElsewhere);
    if (c.HolderIsChild) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
    mine.reset();
    const FileLockAttempt again = TakeFileLock(path);
    EXPECT_EQ(static_cast<bool>(again.Lock), c.FreeWhileChildLives);
    if (!c.HolderIsChild) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
  }
  fs::remove(path);
}

}  // namespace
}  // namespace quorvex
