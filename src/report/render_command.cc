#include "report/render_command.h"

#include <iostream>
#include <optional>
#include <string>

#include "core/durable_file.h"
#include "core/exit_codes.h"
#include "report/compare.h"
#include "report/html_report.h"
#include "report/merge.h"

namespace quorvex::report {
namespace {

constexpr const char* Prefix = "quorvex-sweep: ";

std::string Shown(const std::filesystem::path& path) { return PrintableText(path.u8string()); }

// The files a page was made from, for its heading: the first few by name.
std::string FileNames(const std::vector<std::filesystem::path>& paths) {
  constexpr std::size_t Named = 3;
  std::string names;
  for (std::size_t i = 0; i < paths.size() && i < Named; ++i) {
    names += (i == 0 ? "" : ", ") + paths[i].filename().u8string();
  }
  if (paths.size() > Named) names += " and " + std::to_string(paths.size() - Named) + " more";
  return names;
}

}  // namespace

int RenderCommand(const RenderOptions& options, std::ostream& out, std::ostream& err) {
  MergedRecords read;
  const std::vector<HostRecord>* records = options.Records;
  if (!records) {
    if (const std::string error = MergeRecordsFiles(options.RecordsPaths, read); !error.empty()) {
      err << Prefix << error << "\n";
      return SweepExitCode::UnusableFile;
    }
    records = &read.Records;
  }
  std::optional<MergedRecords> older;
  if (!options.SincePaths.empty()) {
    older.emplace();
    if (const std::string error = MergeRecordsFiles(options.SincePaths, *older); !error.empty()) {
      err << Prefix << error << "\n";
      return SweepExitCode::UnusableFile;
    }
  }
  out << FormatMerge(read, "records files");
  if (older) out << FormatMerge(*older, "older records files (--since)");

  if (options.HtmlPath.empty()) {
    if (older) out << FormatComparison(Compare(older->Records, *records));
    return 0;
  }
  ReportInput input;
  input.Records = records;
  input.Older = older ? &older->Records : nullptr;
  input.Merged = options.Records ? nullptr : &read;
  input.MergedOlder = older ? &*older : nullptr;
  input.SourceName = FileNames(options.RecordsPaths);
  if (older) input.OlderName = FileNames(options.SincePaths);
  // Replaced whole, so that a page a reader has open is never seen half
  // written, and a power cut leaves the old page or the new one.
  const auto write = [&input](std::ostream& page) { WriteHtml(page, input); };
  if (const std::string error = ReplaceFileDurably(options.HtmlPath, write); !error.empty()) {
    err << Prefix << "cannot write the report " << Shown(options.HtmlPath) << ": " << PrintableText(error) << "\n";
    return SweepExitCode::UnusableFile;
  }
  out << "report: " << Shown(options.HtmlPath) << "\n";
  return 0;
}

int RenderCommand(const RenderOptions& options) { return RenderCommand(options, std::cout, std::cerr); }

}  // namespace quorvex::report
