// What the sweep says on its consoles: a short line per host as it finishes,
// the summary at the end, and the progress line on a terminal.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "records/host_record.h"
#include "sweep/pool.h"

namespace quorvex::sweep {

// "HOST  CODE  first failure" (the first " - " line, or what ended the run),
// with a line end.
std::string HostLine(const records::HostRecord& record, int deadlineSeconds);
// The line of a host whose check was ended, or whose record was dropped,
// because the records cannot be written: it has no code.
std::string StoppedLine(const std::string& listed);

class SweepSummary {
 public:
  void Add(const records::HostRecord& record);
  std::size_t Checked() const { return checked_; }
  std::size_t Passed() const { return passed_; }
  bool AllPassed() const { return checked_ == passed_; }

  std::size_t Duplicates = 0;       // later spellings of listed hosts
  std::size_t AlreadyRecorded = 0;  // skipped on resume
  std::size_t NotStarted = 0;       // left when the sweep stopped early
  PoolEnd StoppedBy = PoolEnd::Finished;
  // When the records cannot be written: the hosts ended or dropped for it,
  // and how many records were written before.
  std::size_t Stopped = 0;
  std::size_t Recorded = 0;

  // The summary lines, each with its line end.
  std::string Text() const;
  // One progress line for a terminal: done/total, rate, time left, counts.
  std::string ProgressLine(std::size_t total, double elapsedSeconds) const;

 private:
  std::size_t checked_ = 0;
  std::size_t passed_ = 0;
  std::size_t timedOut_ = 0;
  std::size_t crashed_ = 0;
  std::map<int, std::size_t> failedParts_;      // by exit-code row, lowest first
  std::map<std::string, std::size_t> blocked_;  // hosts by blocker name
};

}  // namespace quorvex::sweep
