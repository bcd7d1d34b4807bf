#include "records/records_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <unordered_map>

#include "core/durable_file.h"
#include "records/host_key.h"
#include "records/record_io.h"

namespace quorvex::records {

namespace fs = std::filesystem;

namespace {

// More is grown into as it comes.
constexpr std::size_t MaxReservedRecords = 4u << 20;

// Where the complete lines of a JSON Lines file end, once read.
struct ScannedFile {
  std::uintmax_t CompleteBytes = 0;
  bool Torn = false;
};

std::string Named(const fs::path& path) { return path.u8string(); }

// "FILE cannot be written: No space left on device". The streams' failed
// write leaves the system's reason in errno; clear it before the write.
std::string Unwritable(const fs::path& path) {
  const int error = errno;
  return Named(path) + " cannot be written" + (error != 0 ? std::string(": ") + std::strerror(error) : "");
}

// About how many records a file holds, judged by its first lines: a vector
// grown a record at a time would move every record ten times over. Room
// reserved and never filled costs address space, not memory.
std::size_t RecordsExpected(const fs::path& path, std::string_view start) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  const auto lines = static_cast<std::size_t>(std::count(start.begin(), start.end(), '\n'));
  if (ec || lines == 0) return 0;
  const std::uintmax_t expected = size / std::max<std::size_t>(1, start.size() / lines) + lines;
  return static_cast<std::size_t>(std::min<std::uintmax_t>(expected + expected / 4, MaxReservedRecords));
}

// Reads every complete line of the file as a record, in file order, and
// gives it to take(record, offset of its line, its length without the line
// end) after expecting(about how many there are) once. A line that is no
// record refuses the file.
template <typename Expecting, typename Take>
std::optional<ScannedFile> ScanRecords(const fs::path& path, std::string* error, Expecting expecting, Take take) {
  ScannedFile scanned;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = Named(path) + " cannot be read";
    return std::nullopt;
  }
  std::string line;
  std::size_t lineNumber = 1;
  std::uintmax_t offset = 0;
  std::vector<char> buffer(1 << 20);
  bool first = true;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::string_view chunk(buffer.data(), static_cast<std::size_t>(in.gcount()));
    if (first) {
      first = false;
      expecting(RecordsExpected(path, chunk));
    }
    for (std::size_t pos = 0; pos < chunk.size();) {
      const std::size_t end = chunk.find('\n', pos);
      line.append(chunk.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos));
      if (line.size() > MaxRecordLineBytes + 1) {
        *error = "line " + std::to_string(lineNumber) + " of " + Named(path) + " is too long to be a record";
        return std::nullopt;
      }
      if (end == std::string_view::npos) break;
      const std::uintmax_t start = offset;
      offset += line.size() + 1;
      pos = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) {
        std::optional<HostRecord> record = ParseJsonLine(line);
        if (!record) {
          *error = "line " + std::to_string(lineNumber) + " of " + Named(path) + " is not a sweep record";
          return std::nullopt;
        }
        take(std::move(*record), start, static_cast<std::uint32_t>(line.size()));
      }
      scanned.CompleteBytes = offset;
      line.clear();
      ++lineNumber;
    }
  }
  if (in.bad()) {
    *error = Named(path) + " cannot be read";
    return std::nullopt;
  }
  // A record is written with its line end in one go: a last line without one
  // is a write the sweep did not finish.
  scanned.Torn = !line.empty();
  return scanned;
}

// Lines of a file at rising offsets, read in one pass: the records a
// rewrite or the report takes back from the file, in file order.
class LineSource {
 public:
  explicit LineSource(const fs::path& path) : path_(path) {
    in_.rdbuf()->pubsetbuf(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    in_.open(path, std::ios::binary);
  }
  // "" with line holding the bytes, or one line saying why they cannot be read.
  std::string Read(std::uint64_t offset, std::uint32_t length, std::string& line) {
    if (offset >= at_) {
      in_.ignore(static_cast<std::streamsize>(offset - at_));
      line.resize(length);
      in_.read(line.data(), static_cast<std::streamsize>(length));
      at_ = offset + length;
      if (in_) return {};
    }
    return Named(path_) + " cannot be read back";
  }
  // The record of that line, checked again: the file may have changed since.
  std::string Read(std::uint64_t offset, std::uint32_t length, std::optional<HostRecord>& record) {
    if (std::string failed = Read(offset, length, line_); !failed.empty()) return failed;
    record = ParseJsonLine(line_);
    return record ? std::string() : Named(path_) + " changed while the sweep held it";
  }

 private:
  fs::path path_;
  std::vector<char> buffer_ = std::vector<char>(1 << 20);
  std::ifstream in_;
  std::uint64_t at_ = 0;
  std::string line_;
};

// Indexes of the last record of each host, in file order.
std::vector<std::size_t> LastOfEachHost(const std::vector<std::string>& keys) {
  std::unordered_map<std::string_view, std::size_t> last;
  last.reserve(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) last[keys[i]] = i;
  std::vector<std::size_t> kept;
  kept.reserve(last.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (last[keys[i]] == i) kept.push_back(i);
  }
  return kept;
}

std::optional<std::uintmax_t> SizeOf(const fs::path& path) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::exists(status)) return std::nullopt;
  if (fs::is_directory(status)) return std::uintmax_t{1};  // refused as non-empty, then fails to open
  // A device or a pipe (/dev/stdout, /dev/null) holds no records to lose or
  // resume: it is written as it is.
  if (!fs::is_regular_file(status)) return std::uintmax_t{0};
  const std::uintmax_t size = fs::file_size(path, ec);
  return ec ? std::uintmax_t{1} : size;
}

bool HoldsSomething(const fs::path& path) {
  const auto size = SizeOf(path);
  return size && *size > 0;
}

// More than the header a new CSV starts with: rows of records.
bool HoldsCsvRows(const fs::path& path) {
  const auto size = SizeOf(path);
  return size && *size > CsvBom.size() + CsvHeader().size();
}

bool WorthRetrying(const HostRecord& record) { return Unreachable(record) || record.Crashed; }

bool Failed(const HostRecord& r) { return r.ExitCode != ExitCode::Success || r.TimedOut || r.Crashed; }

}  // namespace

RecordsFiles::~RecordsFiles() = default;

void RecordsFiles::Index(Entry entry) {
  const auto [at, added] = last_.try_emplace(entry.Key, entries_.size());
  if (!added) {
    replaced_ = true;
    at->second = entries_.size();
  }
  entries_.push_back(std::move(entry));
}

std::string RecordsFiles::Open(const fs::path& jsonlPath, const fs::path& csvPath, RecordsMode mode) {
  jsonl_.close();
  csv_.close();
  jsonlPath_ = jsonlPath;
  csvPath_ = csvPath;
  entries_.clear();
  appended_.clear();
  last_.clear();
  done_.clear();
  retry_.clear();
  keptCount_ = 0;
  standingFailed_ = false;
  droppedTornLine_ = false;
  replaced_ = false;
  open_ = false;

  const bool hasJsonl = !jsonlPath.empty();
  const bool hasCsv = !csvPath.empty();
  if (mode == RecordsMode::Fresh) {
    for (const fs::path& path : {jsonlPath, csvPath}) {
      std::error_code ec;
      if (!path.empty() && fs::is_directory(path, ec)) return Named(path) + " is a directory";
      if (!path.empty() && HoldsSomething(path)) {
        return Named(path) + " already holds records: give --resume to finish that sweep, or --overwrite to replace it";
      }
    }
  }
  const bool resume = mode == RecordsMode::Resume || mode == RecordsMode::RetryUnreachable;
  // The CSV is made from the JSON Lines records: rows without them would be
  // lost, so a CSV is never resumed on its own.
  if (resume && hasCsv && HoldsCsvRows(csvPath) && (!hasJsonl || !HoldsSomething(jsonlPath))) {
    return Named(csvPath) + " cannot be resumed without the JSON Lines records it was written with (--jsonl FILE)";
  }
  if (!resume || !hasJsonl || !HoldsSomething(jsonlPath)) return OpenForAppend(true);

  // What decides each host's fate, by entry, until the last record of each
  // host is known.
  std::vector<char> retry, failed;
  std::string error;
  const std::optional<ScannedFile> scanned = ScanRecords(
      jsonlPath, &error,
      [&](std::size_t expected) {
        entries_.reserve(expected);
        last_.reserve(expected);
        retry.reserve(expected);
        failed.reserve(expected);
      },
      [&](HostRecord&& record, std::uint64_t offset, std::uint32_t length) {
        retry.push_back(mode == RecordsMode::RetryUnreachable && WorthRetrying(record));
        failed.push_back(Failed(record));
        Index(Entry{HostKey(record.Host), offset, length, ReadBack});
      });
  if (!scanned) return error;
  if (scanned->Torn) {
    std::error_code ec;
    fs::resize_file(jsonlPath, scanned->CompleteBytes, ec);
    if (ec) return Named(jsonlPath) + " cannot be cut back to its last complete record: " + ec.message();
    droppedTornLine_ = true;
  }
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (last_.at(entries_[i].Key) != i) continue;
    if (retry[i]) {
      retry_.insert(entries_[i].Key);
    } else {
      done_.insert(entries_[i].Key);
      standingFailed_ = standingFailed_ || failed[i];
    }
  }
  // Records replaced by a retry that did not finish: keep the newest.
  if (replaced_) {
    if (std::string failedRewrite = RewriteAll(false); !failedRewrite.empty()) return failedRewrite;
  }
  replaced_ = false;
  keptCount_ = entries_.size();
  // The CSV may lack the row of a record written just before a kill, or hold
  // rows of records since replaced: it is made again from the records.
  if (hasCsv) {
    if (std::string failedRewrite = RewriteAll(true); !failedRewrite.empty()) return failedRewrite;
  }
  return OpenForAppend(false);
}

std::string RecordsFiles::OpenForAppend(bool fresh) {
  const auto mode = std::ios::binary | (fresh ? std::ios::trunc : std::ios::app);
  if (!jsonlPath_.empty()) {
    errno = 0;
    jsonl_.open(jsonlPath_, std::ios::out | mode);
    if (!jsonl_) return Unwritable(jsonlPath_);
  }
  if (!csvPath_.empty()) {
    errno = 0;
    csv_.open(csvPath_, std::ios::out | mode);
    if (fresh) csv_ << CsvBom << CsvHeader() << std::flush;
    if (!csv_) return Unwritable(csvPath_);
  }
  open_ = true;
  return {};
}

std::string RecordsFiles::Append(const HostRecord& record) {
  if (!open_) return "the records files are not open";
  if (jsonl_.is_open()) {
    errno = 0;
    jsonl_ << ToJsonLine(record) << '\n' << std::flush;
    if (!jsonl_) return Unwritable(jsonlPath_);
  }
  if (csv_.is_open()) {
    errno = 0;
    csv_ << ToCsvRow(record) << std::flush;
    if (!csv_) return Unwritable(csvPath_);
  }
  appended_.push_back(record);
  Index(Entry{HostKey(record.Host), 0, 0, appended_.size() - 1});
  done_.insert(entries_.back().Key);
  return {};
}

std::string RecordsFiles::Finish() {
  if (!open_) return {};
  open_ = false;
  for (auto [stream, path] : {std::pair{&jsonl_, &jsonlPath_}, std::pair{&csv_, &csvPath_}}) {
    if (!stream->is_open()) continue;
    stream->close();
    if (stream->fail()) return Named(*path) + " cannot be written";
  }
  // Once, not after each record: a flush to the disk a record would slow a
  // large sweep to the disk's pace. Before any rewrite too, so that a rewrite
  // that fails leaves the appended records on the disk.
  for (const fs::path* path : {&jsonlPath_, &csvPath_}) {
    std::error_code ec;
    // A device or a pipe has no disk for its bytes to reach.
    if (path->empty() || !fs::is_regular_file(*path, ec)) continue;
    if (std::string failed = FlushFileToDisk(*path); !failed.empty()) {
      return Named(*path) + " cannot be flushed to disk: " + failed;
    }
  }
  if (!replaced_) return {};
  if (std::string failed = RewriteAll(false); !failed.empty()) return failed;
  return csvPath_.empty() ? std::string() : RewriteAll(true);
}

std::string RecordsFiles::Records(std::vector<HostRecord>& records) const {
  records.clear();
  records.reserve(last_.size());
  std::optional<LineSource> source;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Entry& entry = entries_[i];
    if (last_.at(entry.Key) != i) continue;
    if (entry.Appended != ReadBack) {
      records.push_back(appended_[entry.Appended]);
      continue;
    }
    if (!source) source.emplace(jsonlPath_);
    std::optional<HostRecord> record;
    if (std::string failed = source->Read(entry.Offset, entry.Length, record); !failed.empty()) return failed;
    records.push_back(std::move(*record));
  }
  return {};
}

std::string RecordsFiles::RewriteAll(bool csv) {
  const fs::path& path = csv ? csvPath_ : jsonlPath_;
  if (path.empty()) return {};
  std::vector<Entry> rewritten;
  std::string unreadable;
  const std::string failed = ReplaceFileDurably(path, [&](std::ostream& out) {
    // Closed before the new file takes the name: Windows renames nothing
    // over a file that is open.
    LineSource source(jsonlPath_);
    std::string line;
    std::optional<HostRecord> record;
    std::uint64_t written = 0;
    if (csv) out << CsvBom << CsvHeader();
    for (std::size_t i = 0; i < entries_.size() && unreadable.empty(); ++i) {
      const Entry& entry = entries_[i];
      if (last_.at(entry.Key) != i) continue;
      const bool held = entry.Appended != ReadBack;
      if (csv) {
        if (!held) unreadable = source.Read(entry.Offset, entry.Length, record);
        if (unreadable.empty()) out << ToCsvRow(held ? appended_[entry.Appended] : *record);
        continue;
      }
      // A line read back goes over as it is: checked when it was read, and
      // whatever an older or newer sweep wrote in it is kept.
      if (held) {
        line = ToJsonLine(appended_[entry.Appended]);
      } else {
        unreadable = source.Read(entry.Offset, entry.Length, line);
      }
      out << line << '\n';
      rewritten.push_back(Entry{entry.Key, written, static_cast<std::uint32_t>(line.size()), ReadBack});
      written += line.size() + 1;
    }
    if (!unreadable.empty()) out.setstate(std::ios::failbit);
  });
  if (!unreadable.empty()) return unreadable;
  if (!failed.empty()) return Named(path) + " cannot be replaced: " + failed;
  if (!csv) {
    // The new file holds every record now, one a host.
    entries_ = std::move(rewritten);
    appended_.clear();
    last_.clear();
    for (std::size_t i = 0; i < entries_.size(); ++i) last_.emplace(entries_[i].Key, i);
    replaced_ = false;
  }
  return {};
}

std::string ReadRecordsFile(const fs::path& path, std::vector<HostRecord>& records) {
  records.clear();
  std::vector<HostRecord> loaded;
  std::vector<std::string> keys;
  std::string error;
  const std::optional<ScannedFile> scanned = ScanRecords(
      path, &error,
      [&](std::size_t expected) {
        loaded.reserve(expected);
        keys.reserve(expected);
      },
      [&](HostRecord&& record, std::uint64_t, std::uint32_t) {
        keys.push_back(HostKey(record.Host));
        loaded.push_back(std::move(record));
      });
  if (!scanned) return error;
  // In place: the kept records only move forward, and a second vector of
  // them all would double what a large file costs.
  std::size_t kept = 0;
  for (std::size_t i : LastOfEachHost(keys)) {
    if (i != kept) loaded[kept] = std::move(loaded[i]);
    ++kept;
  }
  loaded.resize(kept);
  records = std::move(loaded);
  return {};
}

}  // namespace quorvex::records
