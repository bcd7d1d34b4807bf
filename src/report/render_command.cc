#include "report/render_command.h"

#include <iostream>
#include <optional>
#include <string>

#include "core/durable_file.h"
#include "core/exit_codes.h"
#include "records/records_file.h"
#include "report/compare.h"
#include "report/html_report.h"

namespace quorvex::report {
namespace {

constexpr const char* Prefix = "quorvex-sweep: ";

std::string Shown(const std::filesystem::path& path) { return PrintableText(path.u8string()); }

}  // namespace

int RenderCommand(const RenderOptions& options, std::ostream& out, std::ostream& err) {
  std::vector<HostRecord> read;
  const std::vector<HostRecord>* records = options.Records;
  if (!records) {
    if (const std::string error = records::ReadRecordsFile(options.RecordsPath, read); !error.empty()) {
      err << Prefix << error << "\n";
      return SweepExitCode::UnusableFile;
    }
    records = &read;
  }
  std::optional<std::vector<HostRecord>> older;
  if (!options.SincePath.empty()) {
    older.emplace();
    if (const std::string error = records::ReadRecordsFile(options.SincePath, *older); !error.empty()) {
      err << Prefix << error << "\n";
      return SweepExitCode::UnusableFile;
    }
  }

  if (options.HtmlPath.empty()) {
    if (older) out << FormatComparison(Compare(*older, *records));
    return 0;
  }
  ReportInput input;
  input.Records = records;
  input.Older = older ? &*older : nullptr;
  if (!options.RecordsPath.empty()) input.SourceName = options.RecordsPath.filename().u8string();
  if (older) input.OlderName = options.SincePath.filename().u8string();
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
