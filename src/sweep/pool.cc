#include "sweep/pool.h"

#include <algorithm>
#include <utility>

#include "core/exit_codes.h"
#include "records/blockers.h"
#include "records/os_family.h"
#include "records/status_names.h"
#include "sweep/worker_protocol.h"

namespace quorvex::sweep {

namespace {

// A worker that did not finish its run: the host was not fully checked.
constexpr int UnfinishedExitCode = ExitCode::NoManagement;
// What a record says of facts beyond the checks cut short by the deadline.
constexpr std::string_view BeyondChecksCall = "deadline";
constexpr std::int64_t TimeoutStatus = 1460;  // ERROR_TIMEOUT

}  // namespace

void CompleteRecord(records::HostRecord& record, std::string_view currentDomain) {
  for (records::CallError& error : record.Errors)
    error.Name = std::string(records::StatusName(error.Status, error.Call));
  record.Os.Family = records::OsFamily(record.Os, record.ProductType, record.OsVersion);
  records::DeriveBlockers(record, currentDomain);
}

struct SweepPool::Active {
  records::HostRecord Record;
  std::string CurrentDomain;  // /C, UTF-8: the old domain of the blockers
  std::int64_t StartMs = 0;
  bool KilledAtDeadline = false;
  bool KilledByStop = false;
  RunProgress Progress;
  bool Broken = false;
  FrameReader Frames;
};

SweepPool::SweepPool(WorkerProcesses& workers, PoolClock clock, int jobs, std::int64_t deadlineMs)
    : workers_(workers), clock_(std::move(clock)), jobs_(jobs), deadlineMs_(deadlineMs) {}

SweepPool::~SweepPool() = default;

SweepPool::Active* SweepPool::Find(std::uint64_t id) {
  auto it = running_.find(id);
  return it == running_.end() ? nullptr : it->second.get();
}

void SweepPool::Start(std::uint64_t id, const PoolJob& job) {
  auto active = std::make_unique<Active>();
  active->Record.Host = job.Listed;
  active->Record.CheckedAt = clock_.UtcNow();
  active->CurrentDomain = CoreTextToUtf8(job.Settings.CurrentDomain);
  active->StartMs = clock_.NowMs();
  running_[id] = std::move(active);
  if (!workers_.Start(id, EncodeJob({job.Settings, job.MoveFacts}))) Finish(id);
  mostRunning_ = std::max(mostRunning_, static_cast<int>(running_.size()));
}

void SweepPool::Apply(Active& active, const std::string& bytes) {
  if (active.Broken) return;
  active.Frames.Feed(bytes);
  while (std::optional<Frame> frame = active.Frames.Next()) {
    // Nothing counts after the end of the run.
    if (active.Progress.Done || !ApplyFrame(*frame, active.Record, active.Progress)) {
      active.Broken = true;
      return;
    }
  }
  if (active.Frames.Broken()) active.Broken = true;
}

void SweepPool::Finish(std::uint64_t id) {
  auto it = running_.find(id);
  if (it == running_.end()) return;
  std::unique_ptr<Active> active = std::move(it->second);
  running_.erase(it);
  records::HostRecord& record = active->Record;
  if (unrecorded_) {
    (*onStopped_)(record.Host);
    return;
  }
  record.ElapsedMs = clock_.NowMs() - active->StartMs;
  // A run that said it ended, and said nothing wrong, is complete however its
  // process ended afterwards. Anything else did not check the host fully.
  const bool complete = active->Progress.Done && !active->Broken && !active->Frames.Partial();
  if (!complete && active->Progress.Checked && !active->Broken) {
    // The checks were over: their code stands, and only the facts beyond
    // them that had not come are missing, as a call that ran out of time.
    record.Errors.push_back({std::string(BeyondChecksCall), TimeoutStatus, {}});
  } else if (!complete) {
    record.ExitCode = UnfinishedExitCode;
    if (active->KilledAtDeadline || active->KilledByStop || interruptSeen_) {
      record.TimedOut = true;
    } else {
      record.Crashed = true;
    }
  }
  CompleteRecord(record, active->CurrentDomain);
  // The workers are ended once the news in hand is read: some of it may be
  // the end of a job that Kill would no longer find.
  if (!(*onRecord_)(record)) unrecorded_ = true;
}

void SweepPool::KillAll() {
  for (auto& [id, active] : running_) {
    if (active->KilledByStop) continue;
    active->KilledByStop = true;
    workers_.Kill(id);
  }
}

PoolEnd SweepPool::Run(const std::vector<PoolJob>& jobs, const RecordDone& onRecord, const HostStopped& onStopped,
                       const Tick& onTick, int tickMs) {
  onRecord_ = &onRecord;
  onStopped_ = &onStopped;
  std::size_t next = 0;
  for (;;) {
    if (!interruptSeen_ && !unrecorded_ && clock_.Interrupted()) interruptSeen_ = true;
    if (interruptSeen_ || unrecorded_) KillAll();
    while (!interruptSeen_ && !unrecorded_ && next < jobs.size() && static_cast<int>(running_.size()) < jobs_) {
      Start(next, jobs[next]);
      ++next;
    }
    if (running_.empty()) break;

    std::int64_t now = clock_.NowMs();
    std::int64_t wait = tickMs;
    for (const auto& [id, active] : running_) {
      if (active->KilledAtDeadline || active->KilledByStop) continue;
      wait = std::min(wait, std::max<std::int64_t>(0, active->StartMs + deadlineMs_ - now));
    }
    for (WorkerNews& news : workers_.Wait(static_cast<int>(wait))) {
      Active* active = Find(news.Id);
      if (active == nullptr) continue;
      Apply(*active, news.Bytes);
      if (news.Ended) Finish(news.Id);
    }
    if (unrecorded_) continue;

    now = clock_.NowMs();
    for (auto& [id, active] : running_) {
      // Even a run that has ended is killed if it will not exit.
      if (active->KilledAtDeadline || active->KilledByStop) continue;
      if (now >= active->StartMs + deadlineMs_) {
        active->KilledAtDeadline = true;
        workers_.Kill(id);
      }
    }
    if (onTick) onTick();
  }
  onRecord_ = nullptr;
  onStopped_ = nullptr;
  if (unrecorded_) return PoolEnd::Unrecorded;
  return interruptSeen_ ? PoolEnd::Interrupted : PoolEnd::Finished;
}

}  // namespace quorvex::sweep
