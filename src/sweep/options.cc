#include "sweep/options.h"

#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "core/encoding.h"
#include "core/exit_codes.h"

namespace quorvex::sweep {

namespace {

constexpr const char* Description =
    "Checks every host of HOSTLIST (a file, or - for standard input) as `quorvex /M HOST SWITCHES /V`\n"
    "would, several at a time, each in a worker process killed at its deadline.";

constexpr const char* Footer =
    "SWITCHES are the single tool's (/C name, /T name, /F nnn, /D, /I, /W, /A, /P, /R), given after --\n"
    "and applied to every host; /M, /Q and /V are the sweep's own business and refused there.\n"
    "\n"
    "--site NAME (1 to 64 characters, no control characters) is written into every record as \"site\".\n"
    "\n"
    "quorvex-sweep --render RECORDS.jsonl... [--since OLDER.jsonl...] [--html FILE] reports earlier\n"
    "sweeps instead, one file a site merged into one report: a record's site is its \"site\", else its\n"
    "file's name without the extension; a host in several files keeps its latest check (on a tie, the\n"
    "file named last). Exit 0, or 3 when a records file cannot be read or the page cannot be written.\n"
    "\n"
    "Exit codes: 0 every host passed, 1 at least one did not, 3 the list cannot be read or a\n"
    "records file cannot be written, 9 usage, 99 an invalid switch value, 130 interrupted.";

// The switches after "--" are no CLI11 option, so the usage line names them.
class SweepFormatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App*, std::string) const override {
    return "Usage: quorvex-sweep [OPTIONS] HOSTLIST [-- SWITCHES]\n";
  }
};

// The site's name goes into every record and onto the report page: text a
// reader can see, so no control character and no broken UTF-8.
std::string SiteProblem(const std::string& site) {
  if (site.empty()) return "a site name cannot be empty";
  std::size_t characters = 0;
  for (std::size_t pos = 0; pos < site.size();) {
    const std::optional<char32_t> c = DecodeUtf8(site, pos);
    if (!c) return "a site name must be UTF-8 text";
    if (*c < 0x20 || (*c >= 0x7F && *c <= 0x9F)) return "a site name cannot hold a control character";
    ++characters;
  }
  if (characters > MostSiteCharacters) {
    return "a site name has at most " + std::to_string(MostSiteCharacters) + " characters";
  }
  return {};
}

}  // namespace

void AddSweepOptions(CLI::App& app, SweepOptions& o) {
  app.add_option("--jobs", o.Jobs, "Hosts checked at once")->check(CLI::Range(1, MostJobs))->capture_default_str();
  app.add_option("--deadline", o.DeadlineSeconds, "Seconds a host may take before its worker is killed")
      ->check(CLI::Range(1, MostDeadlineSeconds))
      ->capture_default_str();
  app.add_option("--jsonl", o.JsonlPath, "Write a JSON object per host to FILE")->type_name("FILE");
  app.add_option("--csv", o.CsvPath, "Write a CSV row per host to FILE")->type_name("FILE");
  CLI::Option* resume = app.add_flag("--resume", o.Resume, "Skip the hosts the records files already hold");
  CLI::Option* overwrite = app.add_flag("--overwrite", o.Overwrite, "Replace existing records files");
  resume->excludes(overwrite);
  app.add_flag("--retry-unreachable", o.RetryUnreachable,
               "Resume, checking again hosts recorded unreachable, no-management, timed out or crashed")
      ->excludes(overwrite);
  app.add_flag("--no-progress", o.NoProgress, "No progress line on standard error");
  app.add_flag("--checks-only", o.ChecksOnly,
               "Only the checks of quorvex: no clock, restart, service, administrator or profile facts");
  CLI::Option* site =
      app.add_option("--site", o.Site, "Record every host as checked at site NAME")
          ->type_name("NAME")
          ->check(CLI::Validator([](std::string& value) { return SiteProblem(value); }, "", "site name"));
  app.add_option("--html", o.HtmlPath, "Write the fleet report, one HTML page, to FILE")->type_name("FILE");
  CLI::Option* render =
      app.add_option("--render", o.RenderPaths, "Sweep nothing: report the records of earlier sweeps, merged")
          ->type_name("RECORDS.jsonl...")
          ->expected(1, -1);
  site->excludes(render);
  app.add_option("--since", o.SincePaths, "Show what changed since older sweeps (as text without --html)")
      ->type_name("OLDER.jsonl...")
      ->expected(1, -1);
  app.add_option("HOSTLIST", o.HostList, "File of hosts, plain text or CSV; - for standard input");
  // Internal: a worker started by the Windows sweep.
  app.add_flag("--worker", o.Worker)->group("");
}

OptionsOutcome ParseSweepOptions(int argc, const char* const* argv, SweepOptions& options) {
  // The single tool's switches start with '/' or '-' and would look like
  // options to CLI11: they are cut off at the first "--" beforehand.
  std::vector<std::string> own;
  bool afterSeparator = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (afterSeparator) {
      options.Switches.push_back(argument);
    } else if (argument == "--") {
      afterSeparator = true;
    } else {
      own.push_back(argument);
    }
  }

  CLI::App app(Description, "quorvex-sweep");
  app.footer(Footer);
  auto formatter = std::make_shared<SweepFormatter>();
  formatter->column_width(30);
  app.formatter(formatter);
  AddSweepOptions(app, options);

  OptionsOutcome outcome;
  try {
    std::vector<std::string> reversed(own.rbegin(), own.rend());
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    outcome.Text = app.help();
    return outcome;
  } catch (const CLI::ParseError& e) {
    outcome.Code = ExitCode::UsageShown;
    outcome.ToError = true;
    outcome.Text = "quorvex-sweep: " + std::string(e.what()) + "\nRun with --help for more information.\n";
    return outcome;
  }
  if (options.Worker) {
    outcome.Run = true;
    return outcome;
  }
  const bool rendering = !options.RenderPaths.empty();
  // --since takes every word up to the next option, HOSTLIST after it too:
  // on a sweep the last of them is the list, as before --since took several.
  if (!rendering && options.HostList.empty() && options.SincePaths.size() > 1) {
    options.HostList = options.SincePaths.back();
    options.SincePaths.pop_back();
  }
  const bool renderHasWork = !options.HtmlPath.empty() || !options.SincePaths.empty();
  if (rendering && (!options.HostList.empty() || !renderHasWork)) {
    outcome.Code = ExitCode::UsageShown;
    outcome.ToError = true;
    outcome.Text =
        "quorvex-sweep: --render takes no HOSTLIST and needs --html or --since\n"
        "Run with --help for more information.\n";
    return outcome;
  }
  if (options.HostList.empty() && !rendering) {
    outcome.Code = ExitCode::UsageShown;
    outcome.ToError = true;
    outcome.Text = "quorvex-sweep: HOSTLIST is required\nRun with --help for more information.\n";
    return outcome;
  }
  if (options.RetryUnreachable) options.Resume = true;
  outcome.Run = true;
  return outcome;
}

}  // namespace quorvex::sweep
