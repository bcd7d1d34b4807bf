// The locks a sweep holds on the records files it writes, so two sweeps never
// write the same file: taken before the files are read or cut, held to the
// end, dropped by the system when the sweep dies.
//
//   RecordsLocks locks;
//   std::string error = locks.Take(jsonlPath, csvPath);
//   if (!error.empty()) -> print error (one line), exit 3, touching nothing
//
// An empty path takes no lock. Each lock is on FILE.lock beside FILE (see
// records_lock.cc for why), which stays there, empty, after the sweep.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/file_lock.h"

namespace quorvex::records {

std::filesystem::path LockPathOf(const std::filesystem::path& records);

class RecordsLocks {
 public:
  // "" when every named file is ours to write, else one line: the file
  // another sweep is writing, or the file whose lock cannot be made. Holds
  // nothing after a refusal.
  std::string Take(const std::filesystem::path& jsonlPath, const std::filesystem::path& csvPath);
  void Release() { held_.clear(); }

 private:
  std::vector<std::unique_ptr<FileLock>> held_;
};

}  // namespace quorvex::records
