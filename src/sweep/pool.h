// The worker pool: at most Jobs hosts at once, each in a worker of its own,
// each killed at its deadline; a record per host as it finishes.
//
// The pool keeps the books only; the processes are the platform's
// (core/worker_process.h) and the clock is passed in, so tests can run
// it against scripted workers and time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/run_settings.h"
#include "core/worker_process.h"
#include "records/host_record.h"

namespace quorvex::sweep {

struct PoolJob {
  std::string Listed;    // the record's host
  RunSettings Settings;  // Host already in the core's text
};

struct PoolClock {
  std::function<std::int64_t()> NowMs;  // monotonic milliseconds
  std::function<std::string()> UtcNow;  // RFC 3339, for checked_at
  std::function<bool()> Interrupted;
};

class SweepPool {
 public:
  using RecordDone = std::function<void(records::HostRecord&)>;
  using Tick = std::function<void()>;

  SweepPool(WorkerProcesses& workers, PoolClock clock, int jobs, std::int64_t deadlineMs);
  ~SweepPool();

  // Checks every job; calls onRecord once per job as it finishes (in the order
  // hosts finish), onTick at least every tickMs while hosts run. Returns
  // false when an interrupt stopped it: the hosts running then are recorded
  // timed out, the ones not started get no record.
  bool Run(const std::vector<PoolJob>& jobs, const RecordDone& onRecord, const Tick& onTick, int tickMs);

  int Running() const { return static_cast<int>(running_.size()); }
  int MostRunning() const { return mostRunning_; }

 private:
  struct Active;
  Active* Find(std::uint64_t id);
  void Start(std::uint64_t id, const PoolJob& job, const RecordDone& onRecord);
  void Apply(Active& active, const std::string& bytes);
  void Finish(std::uint64_t id, const RecordDone& onRecord);

  WorkerProcesses& workers_;
  PoolClock clock_;
  int jobs_;
  std::int64_t deadlineMs_;
  std::map<std::uint64_t, std::unique_ptr<Active>> running_;
  int mostRunning_ = 0;
  bool interruptSeen_ = false;
};

// Fills what the record derives from what the worker told: error names and
// the OS family. Run by the pool before onRecord.
void CompleteRecord(records::HostRecord& record);

}  // namespace quorvex::sweep
