// The report as a command: read records, optionally an older sweep's, write
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
  // RecordsPath (--render).
  const std::vector<records::HostRecord>* Records = nullptr;
  std::filesystem::path RecordsPath;
  std::filesystem::path HtmlPath;   // --html; empty: no page
  std::filesystem::path SincePath;  // --since; empty: no comparison
};

// Exit code 0, or 3 when a records file cannot be read or the page cannot be
// written (one line on `err` says which). Without a page, the comparison is
// printed on `out` as text.
int RenderCommand(const RenderOptions& options, std::ostream& out, std::ostream& err);
int RenderCommand(const RenderOptions& options);

}  // namespace quorvex::report
