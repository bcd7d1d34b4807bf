#include "sweep/sweep.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "core/exit_codes.h"
#include "core/worker_process.h"
#include "records/records_file.h"
#include "records/records_lock.h"
#include "sweep/host_list.h"
#include "sweep/pool.h"
#include "sweep/summary.h"
#include "sweep/worker.h"

namespace quorvex::sweep {
namespace {

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

bool Failed(const records::HostRecord& r) { return r.ExitCode != ExitCode::Success || r.TimedOut || r.Crashed; }

// The host list named on the command line ("-": standard input).
std::string ReadList(const std::string& path, HostList& list) {
  std::string bytes;
  std::string error;
  if (path == "-") {
    error = ReadListBytes(std::cin, bytes);
  } else {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "cannot read the host list " + path;
    error = ReadListBytes(in, bytes);
  }
  if (error.empty()) error = ReadHostList(bytes, list);
  return error.empty() ? error : "host list " + path + ": " + error;
}

// One descriptor a running worker, in the sweep; fewer workers when the
// system allows fewer.
int JobsAtOnce(int wanted) {
  const std::uint64_t limit = RaiseOpenFileLimit();
  if (limit >= static_cast<std::uint64_t>(wanted) + SpareDescriptors) return wanted;
  return limit > SpareDescriptors + 1 ? static_cast<int>(limit - SpareDescriptors) : 1;
}

// Where finished hosts go, and what is said of them: the records files (when
// any is named), the console, the summary.
class Books {
 public:
  explicit Books(const SweepOptions& options)
      : options_(options),
        recording_(!options.JsonlPath.empty() || !options.CsvPath.empty()),
        reporting_(!options.HtmlPath.empty() || !options.SincePaths.empty()),
        progress_(!options.NoProgress && ErrorIsTerminal()) {}

  std::string Open() {
    if (!recording_) return {};
    const std::string error = files_.Open(options_.JsonlPath, options_.CsvPath, ModeOf(options_));
    // A record --retry-unreachable checks again counts by its new record.
    someFailed_ = files_.StandingRecordFailed();
    return error;
  }

  bool AlreadyRecorded(const HostEntry& entry) const { return recording_ && files_.IsDone(entry.Key); }
  SweepSummary& Summary() { return summary_; }

  // A finished host: recorded, then told. False when its record cannot be
  // written, which has been said on standard error first.
  bool Keep(records::HostRecord& r) {
    if (!options_.Site.empty()) r.Site = options_.Site;
    std::string error;
    if (recording_) error = files_.Append(r);
    if (!error.empty()) {
      ClearProgress();
      Complain(error);
      unwritable_ = true;
    } else {
      ++recorded_;
      if (reporting_ && !recording_) unfiled_.push_back(r);
    }
    summary_.Add(r);
    someFailed_ |= Failed(r);
    ClearProgress();
    Say(HostLine(r, options_.DeadlineSeconds));
    return error.empty();
  }

  void Stopped(const std::string& listed) {
    ++summary_.Stopped;
    ClearProgress();
    Say(StoppedLine(listed));
  }

  void Progress(std::size_t total, std::int64_t startedMs) {
    if (progress_) {
      WriteError("\r" + summary_.ProgressLine(total, static_cast<double>(NowMs() - startedMs) / 1000.0) + "\x1b[K");
    }
  }

  // Closes the records (the rewrite and the flush to disk happen here), says
  // the summary, and gives the sweep's exit code.
  int Conclude(PoolEnd end, SweepResult& result) {
    ClearProgress();
    std::string finishError;
    if (recording_) finishError = files_.Finish();
    if (unwritable_) summary_.Recorded = recorded_;
    Say(summary_.Text());
    // After a failed write the files were said to be unwritable already.
    if (!finishError.empty() && !unwritable_) Complain(finishError);
    if (unwritable_ || !finishError.empty()) return SweepExitCode::UnusableFile;
    if (reporting_) {
      if (!recording_) {
        result.Records = std::move(unfiled_);
      } else if (const std::string error = files_.Records(result.Records); !error.empty()) {
        Complain(error);
        return SweepExitCode::UnusableFile;
      }
      result.Reportable = true;
    }
    if (end == PoolEnd::Interrupted) return SweepExitCode::Interrupted;
    return someFailed_ ? SweepExitCode::SomeFailed : SweepExitCode::AllPassed;
  }

 private:
  // The progress line goes first: on one terminal a line would land behind it.
  void ClearProgress() {
    if (progress_) WriteError("\r\x1b[K");
  }

  const SweepOptions& options_;
  const bool recording_;
  const bool reporting_;
  const bool progress_;
  records::RecordsFiles files_;
  std::vector<records::HostRecord> unfiled_;  // the report's records when no records file keeps them
  SweepSummary summary_;
  std::size_t recorded_ = 0;
  bool unwritable_ = false;
  bool someFailed_ = false;
};

// The jobs of the hosts still to check. Refused entries are recorded at once;
// hosts the records already hold are skipped. False when a refused entry's
// record cannot be written.
bool PlanJobs(const HostList& list, const RunSettings& shared, bool moveFacts, Books& books,
              std::vector<PoolJob>& jobs) {
  SweepSummary& summary = books.Summary();
  summary.Duplicates = list.Duplicates;
  bool unwritable = false;
  for (const HostEntry& entry : list.Entries) {
    if (books.AlreadyRecorded(entry)) {
      ++summary.AlreadyRecorded;
    } else if (unwritable) {
      ++summary.NotStarted;
    } else if (entry.Refusal) {
      records::HostRecord refused = RefusedRecord(entry, UtcNow());
      unwritable = !books.Keep(refused);
    } else {
      PoolJob job{entry.Listed, shared, moveFacts};
      job.Settings.Host = Utf8ToCoreText(entry.RunHost);
      job.Settings.Verbose = true;
      jobs.push_back(std::move(job));
    }
  }
  if (unwritable) {
    summary.NotStarted += jobs.size();
    summary.StoppedBy = PoolEnd::Unrecorded;
  }
  return !unwritable;
}

PoolEnd CheckHosts(const std::vector<PoolJob>& jobs, const SweepOptions& options, Books& books) {
  SweepSummary& summary = books.Summary();
  const std::size_t total = jobs.size() + summary.Checked();
  const std::int64_t started = NowMs();
  CatchInterrupt();
  std::unique_ptr<WorkerProcesses> workers = OpenWorkerProcesses(CheckHostInWorker);
  PoolClock clock{NowMs, UtcNow, Interrupted};
  SweepPool pool(*workers, clock, JobsAtOnce(options.Jobs), static_cast<std::int64_t>(options.DeadlineSeconds) * 1000);
  const PoolEnd end = pool.Run(
      jobs, [&](records::HostRecord& r) { return books.Keep(r); },
      [&](const std::string& listed) { books.Stopped(listed); }, [&] { books.Progress(total, started); },
      ProgressTickMs);
  if (end != PoolEnd::Finished) summary.NotStarted = total - summary.Checked() - summary.Stopped;
  summary.StoppedBy = end;
  return end;
}

}  // namespace

SweepResult Sweep(const SweepOptions& options, const RunSettings& shared) {
  SweepResult result;
  // Before the list is read and before any host or records file is touched,
  // so a file another sweep writes is refused with nothing changed. Held to
  // the end, past the closing and rewriting of the files.
  records::RecordsLocks locks;
  HostList list;
  Books books(options);
  std::string error = locks.Take(options.JsonlPath, options.CsvPath);
  if (error.empty()) error = ReadList(options.HostList, list);
  if (error.empty()) error = books.Open();
  if (!error.empty()) {
    Complain(error);
    result.ExitCode = SweepExitCode::UnusableFile;
    return result;
  }

  std::vector<PoolJob> jobs;
  const bool planned = PlanJobs(list, shared, !options.ChecksOnly, books, jobs);
  const PoolEnd end = planned ? CheckHosts(jobs, options, books) : PoolEnd::Unrecorded;
  result.ExitCode = books.Conclude(end, result);
  return result;
}

}  // namespace quorvex::sweep
