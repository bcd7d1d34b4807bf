#include "platform/posix/run_clock.h"

#include <atomic>

namespace quorvex::posix {
namespace {

// Nanoseconds since the clock's epoch; atomic because abandoned lookup threads
// may outlive a wait while the main thread reads it.
std::atomic<SteadyClock::rep>& DeadlineTicks() {
  static std::atomic<SteadyClock::rep> ticks{(SteadyClock::now() + RunBudget).time_since_epoch().count()};
  return ticks;
}

}  // namespace

void StartRunClock() { DeadlineTicks() = (SteadyClock::now() + RunBudget).time_since_epoch().count(); }

void ExtendRunDeadline(SteadyClock::duration excluded) { DeadlineTicks() += excluded.count(); }

SteadyClock::time_point RunDeadline() { return SteadyClock::time_point(SteadyClock::duration(DeadlineTicks().load())); }

SteadyClock::time_point WaitDeadline(SteadyClock::duration bound) {
  SteadyClock::time_point own = SteadyClock::now() + bound;
  SteadyClock::time_point run = RunDeadline();
  return own < run ? own : run;
}

unsigned MillisecondsUntil(SteadyClock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left > 0 ? static_cast<unsigned>(left) : 0U;
}

}  // namespace quorvex::posix
