#include "records/records_lock.h"

#include <system_error>

namespace quorvex::records {

namespace fs = std::filesystem;

namespace {

// The lock goes beside the file the name leads to, so two spellings of one
// file (a.jsonl and ./a.jsonl, a link and its target) meet at one lock, and
// the same name given to --jsonl and --csv takes it once: a second lock of
// ours would refuse us.
fs::path Resolved(const fs::path& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  if (ec) return path.lexically_normal();
  const fs::path resolved = fs::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal() : resolved;
}

}  // namespace

// The lock is on a file beside the records, not on the records themselves:
// --retry-unreachable replaces the records by renaming a new file over them,
// and a lock held on the old file would not hold the new one, so a second
// sweep opening the name after the rename would find it free. FILE.lock is
// never replaced, so its lock stands through any rename of FILE. Windows locks
// are also mandatory: a lock on the records would stop --render, a resume's
// reading and our own writing through other handles. The side file is never
// removed (see core/file_lock.h), and a stale one blocks nobody: what
// blocks is the lock, which dies with its process.
fs::path LockPathOf(const fs::path& records) {
  fs::path lock = records;
  lock += ".lock";
  return lock;
}

std::string RecordsLocks::Take(const fs::path& jsonlPath, const fs::path& csvPath) {
  held_.clear();
  std::vector<fs::path> taken;
  for (const fs::path& records : {jsonlPath, csvPath}) {
    // Only a file can be resumed or rewritten, so only a file is locked: a
    // device or a pipe (/dev/stdout) is written as it is, and a directory is
    // refused when the records are opened.
    std::error_code ec;
    const fs::file_status status = fs::status(records, ec);
    if (records.empty() || (fs::exists(status) && !fs::is_regular_file(status))) continue;
    const fs::path key = Resolved(records);
    bool already = false;
    for (const fs::path& t : taken) already = already || t == key;
    if (already) continue;
    FileLockAttempt attempt = TakeFileLock(LockPathOf(key));
    if (!attempt.Lock) {
      held_.clear();
      if (attempt.HeldElsewhere) return records.u8string() + " is being written by another sweep";
      return records.u8string() + " cannot be written (" + LockPathOf(records).u8string() + ": " + attempt.Reason + ")";
    }
    held_.push_back(std::move(attempt.Lock));
    taken.push_back(key);
  }
  return {};
}

}  // namespace quorvex::records
