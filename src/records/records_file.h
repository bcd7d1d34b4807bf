// The records files of one sweep: JSON Lines and CSV, opened with the rules
// for files that already hold records, appended to as hosts finish.
//
//   RecordsFiles files;
//   std::string error = files.Open(jsonlPath, csvPath, RecordsMode::Fresh);
//   if (!error.empty()) -> print error (one line), exit 3
//   for each entry: if (files.IsDone(entry.Key)) skip it, else check it and
//     error = files.Append(record);      // written and flushed before it returns
//   error = files.Finish();               // rewrites when records were replaced
//
// Either path may be empty: that file is not written. Paths are the caller's
// std::filesystem::path, so the caller decides how its command line's text
// maps to file names.
//
// Modes:
//   Fresh      an existing non-empty file is refused (the error names
//              --resume and --overwrite); an empty or absent one is created.
//   Overwrite  the files are replaced.
//   Resume     the JSON Lines file is read: a torn last line (one without a
//              line end) is dropped and the file cut back to the last
//              complete record; a host with several records keeps its last.
//              Resume needs the JSON Lines file: a CSV alone is never read
//              back, and a CSV holding rows without the JSON Lines records
//              beside it is refused. The CSV is regenerated from the records,
//              so it always matches them.
//   RetryUnreachable  Resume, and hosts whose last record is unreachable,
//              no-management, timed out or crashed are not done: their new
//              records replace the old ones, and Finish rewrites the JSON
//              Lines file with one record a host (the lines read back
//              copied as they were, keys this build does not know
//              included), and the CSV from it.
// A line that is not a record, anywhere but at the torn end, refuses the
// file: it is not silently dropped.
//
// Durability: each Append writes the JSON line, flushes it to the operating
// system, then the CSV row and flushes it. A killed sweep loses at most the
// line being written, which the next Resume drops. Finish puts both files on
// the disk, once: a power cut during the sweep may lose the last records the
// system had not yet stored, which a resume then checks again. A rewrite
// replaces a file whole (core/durable_file.h): a power cut leaves the old
// file or the new one, never a mix, and never neither.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "records/host_record.h"

namespace quorvex::records {

enum class RecordsMode { Fresh, Overwrite, Resume, RetryUnreachable };

// One writer: not for use from several threads at once. The destructor
// closes the files without Finish's rewrite; call Finish on every way out
// (Ctrl-C included).
class RecordsFiles {
 public:
  RecordsFiles() = default;
  RecordsFiles(const RecordsFiles&) = delete;
  RecordsFiles& operator=(const RecordsFiles&) = delete;
  ~RecordsFiles();

  // "" when the files are ready for Append, else one line saying why not.
  std::string Open(const std::filesystem::path& jsonlPath, const std::filesystem::path& csvPath, RecordsMode mode);

  // Keys (host_list.h HostKey) of the hosts whose kept record stands: the
  // sweep skips them.
  const std::set<std::string>& DoneHosts() const { return done_; }
  bool IsDone(const std::string& key) const { return done_.count(key) != 0; }
  // Hosts RetryUnreachable marked to check again, by key.
  const std::set<std::string>& RetryHosts() const { return retry_; }
  // Records read back on resume that were kept (one a host), file order.
  std::size_t KeptCount() const { return keptCount_; }
  // Whether a record read back and left standing (not to be checked again)
  // is of a host that failed: the sweep's exit code counts it.
  bool StandingRecordFailed() const { return standingFailed_; }
  // Torn lines dropped and duplicate records collapsed on resume.
  bool DroppedTornLine() const { return droppedTornLine_; }

  // Writes and flushes the record: "" or one line saying which file failed.
  std::string Append(const HostRecord& record);

  // Closes the files and puts them on the disk; with replaced records,
  // rewrites both with one record a host. "" or one line saying what failed.
  std::string Finish();

  // Every record, one a host (the last one), in file order: for the report
  // of a resumed sweep. Those read back are read from the file again: "" or
  // one line saying why they cannot be.
  std::string Records(std::vector<HostRecord>& records) const;

 private:
  // A record kept: one read back stays a line of the JSON Lines file until a
  // rewrite or the report needs it (a large sweep's records would otherwise
  // fill memory, and every worker forked after them would copy their page
  // tables); one appended is held here.
  struct Entry {
    std::string Key;
    std::uint64_t Offset = 0;  // of its line in the file, when read back
    std::uint32_t Length = 0;  // without the line end
    std::size_t Appended = ReadBack;
  };
  static constexpr std::size_t ReadBack = static_cast<std::size_t>(-1);

  void Index(Entry entry);
  std::string OpenForAppend(bool fresh);
  // Writes the JSON Lines file (or the CSV) again from the last record of
  // each host, replacing the old one whole. After the JSON Lines file, the
  // entries are those of the new file.
  std::string RewriteAll(bool csv);

  std::filesystem::path jsonlPath_;
  std::filesystem::path csvPath_;
  std::ofstream jsonl_;
  std::ofstream csv_;
  std::vector<Entry> entries_;                         // every record, kept and appended, in order
  std::vector<HostRecord> appended_;                   // the records Append was given
  std::unordered_map<std::string, std::size_t> last_;  // key -> index of its last entry
  std::set<std::string> done_;
  std::set<std::string> retry_;
  std::size_t keptCount_ = 0;
  bool standingFailed_ = false;
  bool droppedTornLine_ = false;
  bool replaced_ = false;
  bool open_ = false;
};

// Reads a JSON Lines records file as Resume does (torn last line dropped, the
// last record of each host kept, file order), without changing it: for
// rendering and comparing earlier sweeps. "", or one line saying why the file
// cannot be read or which line of it is not a record.
std::string ReadRecordsFile(const std::filesystem::path& path, std::vector<HostRecord>& records);

}  // namespace quorvex::records
