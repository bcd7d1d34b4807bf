// An exclusive lock on a file, shared by every process of the machine: the
// sweep takes one for each records file it writes. The lock lives as long as
// the object returned, or as long as the process: the system drops it when
// the process ends, however it ends, so a killed process never leaves one
// behind. Advisory: it keeps out only those who ask for it, and reading or
// writing the file itself stays open to anyone.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace quorvex {

class FileLock {
 public:
  virtual ~FileLock() = default;
};

struct FileLockAttempt {
  std::unique_ptr<FileLock> Lock;  // set when the lock is ours
  bool HeldElsewhere = false;      // another holder has it (another open of it in this process counts too)
  std::string Reason;              // why the file could not be opened or locked, when neither of the above
};

// Opens (creating it, empty, when absent) the file at path and locks it
// without waiting. The file is never removed: removing it would let a
// newcomer lock a fresh file of the same name while an old holder still
// holds the removed one.
FileLockAttempt TakeFileLock(const std::filesystem::path& path);

}  // namespace quorvex
