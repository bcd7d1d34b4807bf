#include "report/render_command.h"

#include <iostream>
#include <optional>
#include <string>

#include "core/durable_file.h"
#include "records/records_file.h"
#include "report/compare.h"
#include "report/html_report.h"

namespace quorvex::report {
namespace {

constexpr int CannotReadOrWrite = 3;
constexpr const char* Prefix = "quorvex-sweep: ";

std::string Shown(const std::filesystem::path& path) { return PrintableText(path.u8string()); }

}  // namespace

int RenderCommand(const RenderOptions& options, std::ostream& out, std::ostream& err) {
  std::optional<std::vector<HostRecord>> read;
  const std::vector<HostRecord>* records = options.Records;
  std::string error;
  if (!records) {
    read = records::ReadRecordsFile(options.RecordsPath, &error);
    if (!read) {
      err << Prefix << error << "\n";
      return CannotReadOrWrite;
    }
    records = &*read;
  }
  std::optional<std::vector<HostRecord>> older;
  if (!options.SincePath.empty()) {
    older = records::ReadRecordsFile(options.SincePath, &error);
    if (!older) {
      err << Prefix << error << "\n";
      return CannotReadOrWrite;
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
  error = ReplaceFileDurably(options.HtmlPath, RenderHtml(input));
  if (!error.empty()) {
    err << Prefix << "cannot write the report " << Shown(options.HtmlPath) << ": " << PrintableText(error) << "\n";
    return CannotReadOrWrite;
  }
  out << "report: " << Shown(options.HtmlPath) << "\n";
  return 0;
}

int RenderCommand(const RenderOptions& options) { return RenderCommand(options, std::cout, std::cerr); }

}  // namespace quorvex::report
