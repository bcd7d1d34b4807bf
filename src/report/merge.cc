#include "report/merge.h"

#include <unordered_map>
#include <utility>

#include "records/host_key.h"
#include "records/records_file.h"
#include "report/compare.h"

namespace quorvex::report {

std::string MergeRecordsFiles(const std::vector<std::filesystem::path>& paths, MergedRecords& merged) {
  merged = {};
  merged.Files = paths.size();
  if (paths.empty()) return {};
  struct Place {
    std::size_t File, Index;
  };
  std::vector<std::vector<records::HostRecord>> files(paths.size());
  std::unordered_map<std::string, Place> kept;
  for (std::size_t f = 0; f < paths.size(); ++f) {
    if (std::string error = records::ReadRecordsFile(paths[f], files[f]); !error.empty()) return error;
    const std::string stem = paths[f].stem().u8string();
    for (std::size_t i = 0; i < files[f].size(); ++i) {
      records::HostRecord& record = files[f][i];
      if (!record.Site || record.Site->empty()) record.Site = stem;
      const auto [at, added] = kept.emplace(records::HostKey(record.Host), Place{f, i});
      if (added) continue;
      const records::HostRecord& before = files[at->second.File][at->second.Index];
      // Files come in command-line order, so a tie goes to this later one.
      const bool later = record.CheckedAt >= before.CheckedAt;
      const records::HostRecord& winner = later ? record : before;
      const records::HostRecord& loser = later ? before : record;
      const std::size_t winnerFile = later ? f : at->second.File;
      const std::size_t loserFile = later ? at->second.File : f;
      merged.Superseded.push_back(
          {winner.Host, paths[loserFile].u8string(), loser.CheckedAt, paths[winnerFile].u8string(), winner.CheckedAt});
      if (later) at->second = Place{f, i};
    }
  }
  // The first file's vector becomes the result, compacted in place, and each
  // file is let go once its records moved: a large fleet is held once.
  std::vector<records::HostRecord>& out = files[0];
  std::size_t keptCount = 0;
  for (std::size_t f = 0; f < files.size(); ++f) {
    if (f == 1) out.reserve(kept.size());
    for (std::size_t i = 0; i < files[f].size(); ++i) {
      const Place& place = kept.at(records::HostKey(files[f][i].Host));
      if (place.File != f || place.Index != i) continue;
      if (f == 0) {
        if (i != keptCount) out[keptCount] = std::move(out[i]);
        ++keptCount;
      } else {
        out.push_back(std::move(files[f][i]));
      }
    }
    if (f == 0) out.resize(keptCount);
    if (f > 0) std::vector<records::HostRecord>().swap(files[f]);
  }
  merged.Records = std::move(out);
  return {};
}

std::string FormatMerge(const MergedRecords& merged, const std::string& what) {
  if (merged.Files < 2) return {};
  const std::size_t count = merged.Superseded.size();
  std::string text = "Merged " + std::to_string(merged.Files) + " " + what + ": " + std::to_string(count) +
                     (count == 1 ? " record" : " records") + " superseded by a later check of the same host\n";
  for (std::size_t i = 0; i < count && i < SupersededShown; ++i) {
    const SupersededRecord& s = merged.Superseded[i];
    text += "superseded: " + PrintableText(s.Host) + ": " + PrintableText(s.DroppedFile) + " (" +
            PrintableText(s.DroppedCheckedAt) + "), kept " + PrintableText(s.KeptFile) + " (" +
            PrintableText(s.KeptCheckedAt) + ")\n";
  }
  if (count > SupersededShown) text += "and " + std::to_string(count - SupersededShown) + " more\n";
  return text;
}

}  // namespace quorvex::report
