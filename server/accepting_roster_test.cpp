#include "server/accepting_roster.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

namespace pelno {
namespace {

using namespace std::chrono_literals;

// The last thread to leave for a connection keeps its place for a replacement; one
// done serving comes back only below the maximum; none comes back or starts once
// stopped, and the wait ends with the last place given up.
TEST(AcceptingRosterTest, SomeThreadAlwaysAcceptsUntilStopAndTheWaitEndsWithTheLast) {
  AcceptingRoster roster(2);
  ASSERT_TRUE(roster.Reserve());
  EXPECT_TRUE(roster.LeaveToServe());  // the only one: a replacement is to be started
  EXPECT_EQ(roster.accepting(), 1u);
  EXPECT_TRUE(roster.Rejoin());        // back from serving, beside the replacement
  EXPECT_FALSE(roster.Rejoin());       // a third is over the maximum
  EXPECT_FALSE(roster.LeaveToServe());  // another still accepts
  EXPECT_EQ(roster.accepting(), 1u);

  auto waited = std::async(std::launch::async, [&roster] { roster.WaitUntilNoneAccepts(); });
  EXPECT_EQ(waited.wait_for(50ms), std::future_status::timeout);
  roster.Stop();
  EXPECT_FALSE(roster.Reserve());
  EXPECT_FALSE(roster.Rejoin());
  EXPECT_EQ(waited.wait_for(50ms), std::future_status::timeout);  // one place still held
  EXPECT_FALSE(roster.LeaveToServe());  // stopped: no replacement, even for the last
  EXPECT_EQ(waited.wait_for(5s), std::future_status::ready);
}

TEST(AcceptingRosterTest, AStopBeforeAnyPlaceLeavesNothingToWaitFor) {
  AcceptingRoster roster(2);
  roster.Stop();
  EXPECT_FALSE(roster.Reserve());
  roster.WaitUntilNoneAccepts();
  EXPECT_EQ(roster.accepting(), 0u);
}

}  // namespace
}  // namespace pelno
