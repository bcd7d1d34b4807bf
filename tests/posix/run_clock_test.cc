// The run's deadline and the bounds derived from it: a wait ends at its own
// bound or at the run's deadline, whichever comes first, and a spent run
// asks nothing more of the resolver.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/posix/bounded_lookup.h"
#include "platform/posix/run_clock.h"

namespace quorvex::posix {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(RunClock, WaitEndsAtTheSoonerOfItsBoundAndTheRunsDeadline) {
  StartRunClock();
  const SteadyClock::time_point deadline = RunDeadline();
  const SteadyClock::time_point before = SteadyClock::now();
  const SteadyClock::time_point wait = WaitDeadline(seconds(5));
  EXPECT_GE(wait, before + seconds(5));
  EXPECT_LE(wait, SteadyClock::now() + seconds(5));
  EXPECT_EQ(WaitDeadline(RunBudget + seconds(60)), deadline);
  ExtendRunDeadline(seconds(4));  // the ping's time is not charged
  EXPECT_EQ(RunDeadline(), deadline + seconds(4));
  EXPECT_EQ(MillisecondsUntil(SteadyClock::now() - milliseconds(1)), 0U);
  EXPECT_GT(MillisecondsUntil(SteadyClock::now() + seconds(2)), 1000U);
  StartRunClock();
}

TEST(RunClock, ASpentRunFailsLookupsAtOnceAndKeepsEarlierAnswers) {
  StartRunClock();
  ASSERT_TRUE(BoundedAddressOf("localhost").has_value());
  ExtendRunDeadline(-(RunBudget + seconds(1)));
  const SteadyClock::time_point start = SteadyClock::now();
  EXPECT_TRUE(BoundedAddressOf("localhost").has_value());  // asked before, kept
  EXPECT_FALSE(BoundedAddressOf("ip6-localhost.invalid").has_value());
  EXPECT_FALSE(BoundedNameOf({127, 0, 0, 1}).has_value());
  EXPECT_LT(SteadyClock::now() - start, milliseconds(100));
  StartRunClock();
}

}  // namespace
}  // namespace quorvex::posix
