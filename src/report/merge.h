// Several records files, one a site, read as one fleet for the report.
//
//   MergedRecords merged;
//   std::string error = MergeRecordsFiles({"lyon.jsonl", "paris.jsonl"}, merged);
//   if (!error.empty()) -> print error (one line naming the file), exit 3
//
// Each file is read as --render reads one (records::ReadRecordsFile: a torn
// last line dropped, a host's last record in the file kept). Then:
//   - a record without a site gets its file's name without the extension
//     ("lyon" for records/lyon.jsonl): the sweeps before --site wrote none;
//   - a host (records::HostKey) in several files keeps the record with the
//     latest checked_at, compared as text (the sweep writes UTC to the
//     second, so text order is time order); on equal checked_at the file
//     named later on the command line wins. Each record set aside is listed
//     in Superseded, in the order they were set aside.
// Records come out in the order of the files, each file's in its order,
// with only the record each host keeps.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "records/host_record.h"

namespace quorvex::report {

struct SupersededRecord {
  std::string Host;  // as the kept record lists it
  std::string DroppedFile, DroppedCheckedAt;
  std::string KeptFile, KeptCheckedAt;
};

struct MergedRecords {
  std::vector<records::HostRecord> Records;
  std::vector<SupersededRecord> Superseded;
  std::size_t Files = 0;
};

// "" or one line saying which file cannot be read, or which line of it is
// not a record. Files are named in `merged` as given.
std::string MergeRecordsFiles(const std::vector<std::filesystem::path>& paths, MergedRecords& merged);

// The superseded records a reader is shown, the page and the text alike; the
// rest are counted ("and N more").
inline constexpr std::size_t SupersededShown = 200;

// "Merged 3 records files: 1 record superseded by a later check of the same
// host", then a line for each (host and file texts printable), for standard
// output; "" when a single file was read. `what` names the files ("records
// files", "older records files").
std::string FormatMerge(const MergedRecords& merged, const std::string& what);

}  // namespace quorvex::report
