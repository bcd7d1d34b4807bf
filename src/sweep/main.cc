// quorvex-sweep: every host of a list checked as `quorvex /M HOST SWITCHES /V`
// would check it, several at a time, each in a worker killed at its deadline,
// a record written as each host finishes.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "records/record_io.h"
#include "records/records_file.h"
#include "records/records_lock.h"
#include "report/render_command.h"
#include "sweep/host_list.h"
#include "sweep/options.h"
#include "sweep/pool.h"
#include "sweep/summary.h"
#include "sweep/switches.h"
#include "sweep/worker.h"

namespace quorvex::sweep {
namespace {

constexpr int InterruptedExitCode = 130;
constexpr int UnusableFileExitCode = 3;
constexpr int SomeFailedExitCode = 1;
constexpr int ProgressTickMs = 250;
// Descriptors the sweep needs besides one a worker: standard streams, the
// records files, the list, the wake pipe, a margin for the libraries.
constexpr std::uint64_t SpareDescriptors = 32;

void Say(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void Complain(const std::string& line) { WriteError("quorvex-sweep: " + line + "\n"); }

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  return text;
}

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

records::RecordsMode ModeOf(const SweepOptions& options) {
  if (options.RetryUnreachable) return records::RecordsMode::RetryUnreachable;
  if (options.Resume) return records::RecordsMode::Resume;
  if (options.Overwrite) return records::RecordsMode::Overwrite;
  return records::RecordsMode::Fresh;
}

bool ReadList(const std::string& path, HostList& list) {
  std::string bytes;
  std::string error;
  bool read = false;
  if (path == "-") {
    read = ReadListBytes(std::cin, bytes, &error);
  } else {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      Complain("cannot read the host list " + path);
      return false;
    }
    read = ReadListBytes(in, bytes, &error);
  }
  if (read) list = ReadHostList(bytes, &error);
  if (!error.empty() || !read) {
    Complain("host list " + path + ": " + error);
    return false;
  }
  return true;
}

int Sweep(const SweepOptions& options, const RunSettings& shared) {
  // Before the list is read and before any host or records file is touched,
  // so a file another sweep writes is refused with nothing changed. Held to
  // the end, past the closing and rewriting of the files.
  records::RecordsLocks locks;
  if (const std::string error = locks.Take(options.JsonlPath, options.CsvPath); !error.empty()) {
    Complain(error);
    return UnusableFileExitCode;
  }

  HostList list;
  if (!ReadList(options.HostList, list)) return UnusableFileExitCode;

  records::RecordsFiles files;
  const bool recording = !options.JsonlPath.empty() || !options.CsvPath.empty();
  if (recording) {
    const std::string error = files.Open(options.JsonlPath, options.CsvPath, ModeOf(options));
    if (!error.empty()) {
      Complain(error);
      return UnusableFileExitCode;
    }
  }

  SweepSummary summary;
  summary.Duplicates = list.Duplicates;
  const bool progress = !options.NoProgress && ErrorIsTerminal();
  std::string writeError;
  bool someFailed = false;
  const bool reporting = !options.HtmlPath.empty() || !options.SincePath.empty();
  std::vector<records::HostRecord> unfiled;  // the report's records when no records file keeps them
  auto record = [&](records::HostRecord& r) {
    if (reporting && !recording) unfiled.push_back(r);
    summary.Add(r);
    if (r.ExitCode != 0 || r.TimedOut || r.Crashed) someFailed = true;
    if (recording && writeError.empty()) writeError = files.Append(r);
    // The progress line goes first: on one terminal the host line would
    // land behind it.
    if (progress) WriteError("\r\x1b[K");
    Say(HostLine(r, options.DeadlineSeconds));
  };

  std::vector<PoolJob> jobs;
  for (const HostEntry& entry : list.Entries) {
    if (recording && files.IsDone(entry.Key)) {
      ++summary.AlreadyRecorded;
      continue;
    }
    if (entry.Refusal) {
      records::HostRecord refused = RefusedRecord(entry, UtcNow());
      record(refused);
      continue;
    }
    PoolJob job{entry.Listed, shared};
    job.Settings.Host = Utf8ToCoreText(entry.RunHost);
    job.Settings.Verbose = true;
    jobs.push_back(std::move(job));
  }
  if (recording) {
    for (const records::HostRecord& kept : files.Records()) {
      if (kept.ExitCode != 0 || kept.TimedOut || kept.Crashed) someFailed = true;
    }
  }

  // One descriptor a running worker, in the sweep; fewer workers when the
  // system allows fewer.
  int jobsAtOnce = options.Jobs;
  const std::uint64_t limit = RaiseOpenFileLimit();
  if (limit < static_cast<std::uint64_t>(jobsAtOnce) + SpareDescriptors) {
    jobsAtOnce = limit > SpareDescriptors + 1 ? static_cast<int>(limit - SpareDescriptors) : 1;
  }

  const std::int64_t started = NowMs();
  const std::size_t total = jobs.size() + summary.Checked();
  auto tick = [&] {
    if (!progress) return;
    WriteError("\r" + summary.ProgressLine(total, static_cast<double>(NowMs() - started) / 1000.0) + "\x1b[K");
  };

  CatchInterrupt();
  std::unique_ptr<WorkerProcesses> workers = OpenWorkerProcesses(CheckHostInWorker);
  PoolClock clock{NowMs, UtcNow, [&] { return Interrupted() || !writeError.empty(); }};
  SweepPool pool(*workers, clock, jobsAtOnce, static_cast<std::int64_t>(options.DeadlineSeconds) * 1000);
  const bool finished = pool.Run(jobs, record, tick, ProgressTickMs);
  workers.reset();
  if (progress) WriteError("\r\x1b[K");
  if (!finished) summary.NotStarted = total - summary.Checked();

  if (recording) {
    const std::string error = files.Finish();
    if (writeError.empty()) writeError = error;
  }
  Say(summary.Text());
  if (reporting && writeError.empty()) {
    const std::vector<records::HostRecord> all = recording ? files.Records() : std::move(unfiled);
    report::RenderOptions report{&all, {}, options.HtmlPath, options.SincePath};
    if (report::RenderCommand(report) != 0) return UnusableFileExitCode;
  }
  if (!writeError.empty()) {
    Complain(writeError);
    return UnusableFileExitCode;
  }
  if (Interrupted()) return InterruptedExitCode;
  return someFailed ? SomeFailedExitCode : 0;
}

}  // namespace
}  // namespace quorvex::sweep

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

  if (!options.RenderPath.empty()) {
    return report::RenderCommand({nullptr, options.RenderPath, options.HtmlPath, options.SincePath});
  }
  RunSettings shared;
  if (const int code = ParseSweepSwitches(options.Switches, shared); code != 0) return code;
  return Sweep(options, shared);
}
