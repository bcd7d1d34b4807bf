// The report as a command: read records, optionally older sweeps', write
// the page and/or print what changed. Both `quorvex-sweep --render` and the
// end of a sweep with --html come through here.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <vector>

#include "records/host_record.h"

namespace quorvex::report {

struct RenderOptions {
  // The records: those of a sweep that just finished, or else read from
  // RecordsPaths (--render), one file a site, merged (report/merge.h).
  const std::vector<records::HostRecord>* Records = nullptr;
  std::vector<std::filesystem::path> RecordsPaths;
  std::filesystem::path HtmlPath;                 // --html; empty: no page
  std::vector<std::filesystem::path> SincePaths;  // --since, merged alike; empty: no comparison
};

// Exit code 0, or 3 when a records file cannot be read or the page cannot be
// written (one line on `err` says which). Without a page, the comparison is
// printed on `out` as text. Records merged from several files are said on
// `out` first: how many a later check superseded, and which.
int RenderCommand(const RenderOptions& options, std::ostream& out, std::ostream& err);
int RenderCommand(const RenderOptions& options);

}  // namespace quorvex::report
