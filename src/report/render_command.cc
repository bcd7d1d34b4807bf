#include "report/render_command.h"

#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>

#include "core/exit_codes.h"
#include "records/records_file.h"
#include "report/compare.h"
#include "report/html_report.h"

namespace quorvex::report {
namespace {

constexpr const char* Prefix = "quorvex-sweep: ";

std::string Shown(const std::filesystem::path& path) { return PrintableText(path.u8string()); }

// Written beside the target and renamed over it, so a page that a reader has
// open is never seen half written.
std::string WritePage(const std::filesystem::path& path, const std::string& page) {
  std::filesystem::path temporary = path;
  temporary += ".tmp";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    if (!file) return "cannot write the report " + Shown(path);
    file.write(page.data(), static_cast<std::streamsize>(page.size()));
    file.flush();
    if (!file) {
      file.close();
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return "cannot write the report " + Shown(path);
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return "cannot write the report " + Shown(path) + ": " + error.message();
  }
  return "";
}

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
  if (const std::string error = WritePage(options.HtmlPath, RenderHtml(input)); !error.empty()) {
    err << Prefix << error << "\n";
    return SweepExitCode::UnusableFile;
  }
  out << "report: " << Shown(options.HtmlPath) << "\n";
  return 0;
}

int RenderCommand(const RenderOptions& options) { return RenderCommand(options, std::cout, std::cerr); }

}  // namespace quorvex::report
