// One deadline for the whole run: every network wait of the Linux backend
// ends at its own phase bound or at the run's deadline, whichever comes
// first, so that the phases cannot add up past RunBudget however a host
// misbehaves. The clock starts with the platform; the ping's attempts (two of
// EchoTimeoutMs at most) are not charged to it.
#pragma once

#include <chrono>

namespace quorvex::posix {

using SteadyClock = std::chrono::steady_clock;

// What the run may spend waiting; the stated bound of a whole run (60 s) leaves
// room for starting the process, printing and freeing.
inline constexpr std::chrono::seconds RunBudget{57};

// Starts the run's budget (again) from now.
void StartRunClock();
// Moves the run's deadline later by time the budget does not cover.
void ExtendRunDeadline(SteadyClock::duration excluded);
SteadyClock::time_point RunDeadline();

// The end of a wait that may take `bound`: now + bound, or the run's
// deadline when that is sooner.
SteadyClock::time_point WaitDeadline(SteadyClock::duration bound);

// Whole milliseconds left until `deadline`; 0 once it has passed.
unsigned MillisecondsUntil(SteadyClock::time_point deadline);

}  // namespace quorvex::posix
