// quorvex-sweep: every host of a list checked as `quorvex /M HOST SWITCHES /V`
// would check it, several at a time, each in a worker killed at its deadline,
// a record written as each host finishes; or, with --render, the fleet report
// of earlier records.
#include <cstdio>
#include <filesystem>
#include <vector>

#include "core/exit_codes.h"
#include "core/worker_process.h"
#include "report/render_command.h"
#include "sweep/options.h"
#include "sweep/sweep.h"
#include "sweep/switches.h"
#include "sweep/worker.h"

int main(int argc, char** argv) {
  using namespace quorvex;
  using namespace quorvex::sweep;
  SweepOptions options;
  const OptionsOutcome outcome = ParseSweepOptions(argc, argv, options);
  if (!outcome.Run) {
    if (outcome.ToError) {
      WriteError(outcome.Text);
    } else {
      std::fwrite(outcome.Text.data(), 1, outcome.Text.size(), stdout);
    }
    return outcome.Code;
  }
  if (options.Worker) return RunWorkerFromStandardInput(CheckHostInWorker);

  const std::vector<std::filesystem::path> since(options.SincePaths.begin(), options.SincePaths.end());
  if (!options.RenderPaths.empty()) {
    const std::vector<std::filesystem::path> paths(options.RenderPaths.begin(), options.RenderPaths.end());
    return report::RenderCommand({nullptr, paths, options.HtmlPath, since});
  }
  RunSettings shared;
  if (const int code = ParseSweepSwitches(options.Switches, shared); code != 0) return code;
  const SweepResult result = Sweep(options, shared);
  if (result.Reportable) {
    const report::RenderOptions report{&result.Records, {}, options.HtmlPath, since};
    if (report::RenderCommand(report) != 0) return SweepExitCode::UnusableFile;
  }
  return result.ExitCode;
}
