#include "sweep/summary.h"

#include <cstdio>

#include "core/exit_codes.h"
#include "records/blockers.h"

namespace quorvex::sweep {

namespace {

constexpr std::string_view FailurePrefix = " - ";
constexpr std::string_view Unwritable = "records cannot be written";

std::string FirstFailure(const records::HostRecord& record, int deadlineSeconds) {
  if (record.TimedOut) return "timed out after " + std::to_string(deadlineSeconds) + " s";
  if (record.Crashed) return "worker ended before the checks did";
  if (record.ExitCode == 0) return "passed";
  for (const std::string& line : record.Lines) {
    if (line.compare(0, FailurePrefix.size(), FailurePrefix) == 0) return line.substr(FailurePrefix.size());
  }
  // Refused host texts and invalid values say it in their only line.
  for (const std::string& line : record.Lines) {
    if (!line.empty()) return line;
  }
  return "failed";
}

// The part names of a code, in the table's order, with the two codes that
// stand alone.
std::string PartName(int code) {
  for (const ExitCodeRow& row : ExitCodeTable) {
    if (row.Code == code) return std::string(row.Name);
  }
  if (code == ExitCode::UsageShown) return std::string(UsageName);
  return std::string(InvalidName);
}

}  // namespace

std::string HostLine(const records::HostRecord& record, int deadlineSeconds) {
  return record.Host + "  " + std::to_string(record.ExitCode) + "  " + FirstFailure(record, deadlineSeconds) + "\n";
}

std::string StoppedLine(const std::string& listed) {
  return listed + "  -  stopped: " + std::string(Unwritable) + "\n";
}

void SweepSummary::Add(const records::HostRecord& record) {
  ++checked_;
  if (record.Move.Blockers) {
    for (const std::string& name : *record.Move.Blockers) ++blocked_[name];
  }
  if (record.TimedOut) {
    ++timedOut_;
  } else if (record.Crashed) {
    ++crashed_;
  } else if (record.ExitCode == 0) {
    ++passed_;
  } else if (record.ExitCode == ExitCode::UsageShown || record.ExitCode == ExitCode::InvalidValue) {
    ++failedParts_[record.ExitCode];
  } else {
    for (const ExitCodeRow& row : ExitCodeTable) {
      const bool stands = row.Code < ExitCode::AdminShare ? record.ExitCode == row.Code : (record.ExitCode & row.Code);
      if (stands) ++failedParts_[row.Code];
    }
  }
}

std::string SweepSummary::Text() const {
  std::string text = "Hosts checked: " + std::to_string(checked_) + "\n";
  text += "Passed: " + std::to_string(passed_) + "\n";
  for (const auto& [code, count] : failedParts_) {
    text += "Failed " + PartName(code) + ": " + std::to_string(count) + "\n";
  }
  text += "Timed out: " + std::to_string(timedOut_) + "\n";
  text += "Crashed: " + std::to_string(crashed_) + "\n";
  for (const records::BlockerRow& row : records::BlockerTable) {
    const auto found = blocked_.find(std::string(row.Name));
    text += "Blocked by " + std::string(row.Name) + ": " + std::to_string(found == blocked_.end() ? 0 : found->second) +
            "\n";
  }
  const bool unwritable = StoppedBy == PoolEnd::Unrecorded;
  if (unwritable) text += "Stopped (" + std::string(Unwritable) + "): " + std::to_string(Stopped) + "\n";
  text += "Skipped as duplicates: " + std::to_string(Duplicates) + "\n";
  if (AlreadyRecorded != 0) text += "Skipped as already recorded: " + std::to_string(AlreadyRecorded) + "\n";
  if (NotStarted != 0) {
    text += "Not started (" + std::string(unwritable ? Unwritable : "interrupted") +
            "): " + std::to_string(NotStarted) + "\n";
  }
  if (unwritable) text += "Recorded: " + std::to_string(Recorded) + "\n";
  return text;
}

std::string SweepSummary::ProgressLine(std::size_t total, double elapsedSeconds) const {
  const double rate = elapsedSeconds > 0 ? static_cast<double>(checked_) / elapsedSeconds : 0.0;
  const std::size_t left = total > checked_ ? total - checked_ : 0;
  char line[200];
  if (rate > 0) {
    const long seconds = static_cast<long>(static_cast<double>(left) / rate + 0.5);
    std::snprintf(line, sizeof line, "%zu/%zu  %.1f hosts/s  %ld:%02ld left  passed %zu  failed %zu  timed out %zu",
                  checked_, total, rate, seconds / 60, seconds % 60, passed_, checked_ - passed_ - timedOut_ - crashed_,
                  timedOut_);
  } else {
    std::snprintf(line, sizeof line, "%zu/%zu", checked_, total);
  }
  return line;
}

}  // namespace quorvex::sweep
