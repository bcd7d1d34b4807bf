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

// The JSON Lines file as read back: its complete records in file order, and
// where the last complete line ends.
struct LoadedRecords {
  std::vector<HostRecord> Records;
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

std::optional<LoadedRecords> LoadRecords(const fs::path& path, std::string* error) {
  LoadedRecords loaded;
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
      loaded.Records.reserve(RecordsExpected(path, chunk));
    }
    for (std::size_t pos = 0; pos < chunk.size();) {
      const std::size_t end = chunk.find('\n', pos);
      line.append(chunk.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos));
      if (line.size() > MaxRecordLineBytes + 1) {
        *error = "line " + std::to_string(lineNumber) + " of " + Named(path) + " is too long to be a record";
        return std::nullopt;
      }
      if (end == std::string_view::npos) break;
      offset += line.size() + 1;
      pos = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) {
        std::optional<HostRecord> record = ParseJsonLine(line);
        if (!record) {
          *error = "line " + std::to_string(lineNumber) + " of " + Named(path) + " is not a sweep record";
          return std::nullopt;
        }
        loaded.Records.push_back(std::move(*record));
      }
      loaded.CompleteBytes = offset;
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
  loaded.Torn = !line.empty();
  return loaded;
}

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

}  // namespace

RecordsFiles::~RecordsFiles() = default;

void RecordsFiles::Keep(HostRecord record) {
  records_.push_back(std::move(record));
  Index(records_.size() - 1);
}

void RecordsFiles::Index(std::size_t i) {
  std::string key = HostKey(records_[i].Host);
  if (last_.count(key) != 0) replaced_ = true;
  last_[key] = i;
  keys_.push_back(std::move(key));
}

std::string RecordsFiles::Open(const fs::path& jsonlPath, const fs::path& csvPath, RecordsMode mode) {
  jsonl_.close();
  csv_.close();
  jsonlPath_ = jsonlPath;
  csvPath_ = csvPath;
  records_.clear();
  keys_.clear();
  last_.clear();
  done_.clear();
  retry_.clear();
  keptCount_ = 0;
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

  std::string error;
  std::optional<LoadedRecords> loaded = LoadRecords(jsonlPath, &error);
  if (!loaded) return error;
  if (loaded->Torn) {
    std::error_code ec;
    fs::resize_file(jsonlPath, loaded->CompleteBytes, ec);
    if (ec) return Named(jsonlPath) + " cannot be cut back to its last complete record: " + ec.message();
    droppedTornLine_ = true;
  }
  records_ = std::move(loaded->Records);
  keys_.reserve(records_.size());
  for (std::size_t i = 0; i < records_.size(); ++i) Index(i);
  if (replaced_) {
    // Records replaced by a retry that did not finish: keep the newest.
    if (std::string failed = RewriteAll(false); !failed.empty()) return failed;
  }
  if (replaced_) {
    std::vector<HostRecord> records;
    std::vector<std::string> keys;
    records.reserve(last_.size());
    keys.reserve(last_.size());
    for (std::size_t i : LastOfEachHost(keys_)) {
      records.push_back(std::move(records_[i]));
      keys.push_back(std::move(keys_[i]));
    }
    records_ = std::move(records);
    keys_ = std::move(keys);
    last_.clear();
    for (std::size_t i = 0; i < keys_.size(); ++i) last_[keys_[i]] = i;
  }
  replaced_ = false;
  keptCount_ = records_.size();
  for (std::size_t i = 0; i < records_.size(); ++i) {
    const bool retry = mode == RecordsMode::RetryUnreachable && WorthRetrying(records_[i]);
    (retry ? retry_ : done_).insert(keys_[i]);
  }
  // The CSV may lack the row of a record written just before a kill, or hold
  // rows of records since replaced: it is made again from the records.
  if (hasCsv) {
    if (std::string failed = RewriteAll(true); !failed.empty()) return failed;
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
  Keep(record);
  done_.insert(keys_.back());
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
    if (path->empty()) continue;
    if (std::string failed = FlushFileToDisk(*path); !failed.empty()) {
      return Named(*path) + " cannot be flushed to disk: " + failed;
    }
  }
  if (!replaced_) return {};
  if (std::string failed = RewriteAll(false); !failed.empty()) return failed;
  return csvPath_.empty() ? std::string() : RewriteAll(true);
}

std::vector<HostRecord> RecordsFiles::Records() const {
  std::vector<HostRecord> records;
  for (std::size_t i : LastOfEachHost(keys_)) records.push_back(records_[i]);
  return records;
}

std::string RecordsFiles::RewriteAll(bool csv) {
  const fs::path& path = csv ? csvPath_ : jsonlPath_;
  if (path.empty()) return {};
  const std::vector<std::size_t> kept = LastOfEachHost(keys_);
  const std::string failed = ReplaceFileDurably(path, [&](std::ostream& out) {
    if (csv) out << CsvBom << CsvHeader();
    for (std::size_t i : kept) {
      if (csv) {
        out << ToCsvRow(records_[i]);
      } else {
        out << ToJsonLine(records_[i]) << '\n';
      }
    }
  });
  return failed.empty() ? failed : Named(path) + " cannot be replaced: " + failed;
}

std::string ReadRecordsFile(const fs::path& path, std::vector<HostRecord>& records) {
  records.clear();
  std::string error;
  std::optional<LoadedRecords> loaded = LoadRecords(path, &error);
  if (!loaded) return error;
  std::vector<std::string> keys;
  keys.reserve(loaded->Records.size());
  for (const HostRecord& record : loaded->Records) keys.push_back(HostKey(record.Host));
  // In place: the kept records only move forward, and a second vector of
  // them all would double what a large file costs.
  std::size_t kept = 0;
  for (std::size_t i : LastOfEachHost(keys)) {
    if (i != kept) loaded->Records[kept] = std::move(loaded->Records[i]);
    ++kept;
  }
  loaded->Records.resize(kept);
  records = std::move(loaded->Records);
  return {};
}

}  // namespace quorvex::records
