#include "sweep/options.h"

#include <CLI/CLI.hpp>

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
    "quorvex-sweep --render RECORDS.jsonl [--since OLDER.jsonl] [--html FILE] reports an earlier sweep\n"
    "instead: exit 0, or 3 when a records file cannot be read or the page cannot be written.\n"
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
  app.add_option("--html", o.HtmlPath, "Write the fleet report, one HTML page, to FILE")->type_name("FILE");
  app.add_option("--render", o.RenderPath, "Sweep nothing: report the records of an earlier sweep")
      ->type_name("RECORDS.jsonl");
  app.add_option("--since", o.SincePath, "Show what changed since an older sweep (as text without --html)")
      ->type_name("OLDER.jsonl");
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
  const bool renderHasWork = !options.HtmlPath.empty() || !options.SincePath.empty();
  if (!options.RenderPath.empty() && (!options.HostList.empty() || !renderHasWork)) {
    outcome.Code = ExitCode::UsageShown;
    outcome.ToError = true;
    outcome.Text =
        "quorvex-sweep: --render takes no HOSTLIST and needs --html or --since\n"
        "Run with --help for more information.\n";
    return outcome;
  }
  if (options.HostList.empty() && options.RenderPath.empty()) {
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
