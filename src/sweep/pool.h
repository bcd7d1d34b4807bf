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
  std::string Listed;     // the record's host
  RunSettings Settings;   // Host already in the core's text
  bool MoveFacts = true;  // ask what a move trips over after the checks
};

struct PoolClock {
  std::function<std::int64_t()> NowMs;  // monotonic milliseconds
  std::function<std::string()> UtcNow;  // RFC 3339, for checked_at
  std::function<bool()> Interrupted;
};

// Why Run returned.
enum class PoolEnd {
  Finished,     // every job was checked and recorded
  Interrupted,  // Ctrl-C: the hosts running then were recorded timed out
  Unrecorded,   // a record could not be kept: the hosts running then were stopped
};

class SweepPool {
 public:
  // Keeps a finished host's record; false when it cannot (the records cannot
  // be written), which stops the pool.
  using RecordDone = std::function<bool(records::HostRecord&)>;
  // A host whose check the pool ended, or whose record it dropped, because a
  // record could not be kept: it has no record.
  using HostStopped = std::function<void(const std::string& listed)>;
  using Tick = std::function<void()>;

  SweepPool(WorkerProcesses& workers, PoolClock clock, int jobs, std::int64_t deadlineMs);
  ~SweepPool();

  // Checks every job; calls onRecord once per job as it finishes (in the order
  // hosts finish), onTick at least every tickMs while hosts run. After an
  // interrupt the hosts running are killed and recorded timed out; after an
  // onRecord that returns false they are killed and told to onStopped, and
  // no record is asked for again. Either way no further job starts.
  PoolEnd Run(const std::vector<PoolJob>& jobs, const RecordDone& onRecord, const HostStopped& onStopped,
              const Tick& onTick, int tickMs);

  int Running() const { return static_cast<int>(running_.size()); }
  int MostRunning() const { return mostRunning_; }

 private:
  struct Active;
  Active* Find(std::uint64_t id);
  void Start(std::uint64_t id, const PoolJob& job);
  void Apply(Active& active, const std::string& bytes);
  void Finish(std::uint64_t id);
  void KillAll();

  WorkerProcesses& workers_;
  PoolClock clock_;
  int jobs_;
  std::int64_t deadlineMs_;
  std::map<std::uint64_t, std::unique_ptr<Active>> running_;
  int mostRunning_ = 0;
  bool interruptSeen_ = false;
  bool unrecorded_ = false;
  const RecordDone* onRecord_ = nullptr;
  const HostStopped* onStopped_ = nullptr;
};

// Fills what the record derives from what the worker told: error names, the
// OS family, and the blockers judged against currentDomain (/C, UTF-8; empty:
// the domain the host reported). Run by the pool before onRecord.
void CompleteRecord(records::HostRecord& record, std::string_view currentDomain);

}  // namespace quorvex::sweep
