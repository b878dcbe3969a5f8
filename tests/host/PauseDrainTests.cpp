// The wait between "pause" and the bridge's stop, driven by hand: timers
// fire when the test says so, calls begin and end when it says so.
#include <gtest/gtest.h>

#include "host/PauseDrain.h"
#include "support/ManualTimers.h"

namespace tavero::host {
namespace {

class PauseDrainTest : public ::testing::Test {
 protected:
  PauseDrainTest() { drain_.start([this] { ++stops_; }); }

  // Fires the poll timer `times` times (the repeating one).
  void poll(int times) {
    for (int i = 0; i < times; ++i)
      for (const auto& timer : timers_.active())
        if (timer.repeats) timers_.fire(timer.id);
  }
  void fireLimit() {
    for (const auto& timer : timers_.active())
      if (!timer.repeats) timers_.fire(timer.id);
  }

  static constexpr int kQuietPolls = static_cast<int>(PauseDrain::kQuietTime / PauseDrain::kPollInterval);

  testing::ManualTimers timers_;
  bridge::CallsInFlight calls_;
  PauseDrain drain_{timers_, calls_};
  int stops_ = 0;
};

TEST_F(PauseDrainTest, StopsOnlyOnceTheHandlersRanAndTheBridgeStayedIdle) {
  poll(kQuietPolls * 3);
  EXPECT_EQ(stops_, 0) << "the handlers have not reported yet";
  drain_.handlersRan();
  poll(kQuietPolls - 1);
  EXPECT_EQ(stops_, 0);
  poll(1);
  EXPECT_EQ(stops_, 1);
  EXPECT_FALSE(drain_.waiting());
  EXPECT_TRUE(timers_.active().empty());
  EXPECT_TRUE(drain_.lastWait());
}

TEST_F(PauseDrainTest, ACallUnderWayOrANewCallPutsTheStopOff) {
  drain_.handlersRan();
  {
    auto call = calls_.begin();
    poll(kQuietPolls * 3);
    EXPECT_EQ(stops_, 0) << "a call is under way";
  }
  poll(kQuietPolls - 1);
  calls_.begin();  // a callback's call, begun and answered between two polls
  poll(1);
  poll(kQuietPolls - 1);
  EXPECT_EQ(stops_, 0) << "the quiet time starts over after a new call";
  poll(1);
  EXPECT_EQ(stops_, 1);
}

TEST_F(PauseDrainTest, TheLimitStopsWhateverIsUnderWay) {
  auto call = calls_.begin();
  ASSERT_EQ(timers_.active().size(), 2u);
  for (const auto& timer : timers_.active()) EXPECT_TRUE(timer.repeats || timer.interval == PauseDrain::kLimit);
  fireLimit();
  EXPECT_EQ(stops_, 1);
  EXPECT_TRUE(timers_.active().empty());
}

TEST_F(PauseDrainTest, CancelledItNeverStopsAndAFreshStartWaitsForFreshHandlers) {
  drain_.handlersRan();
  drain_.cancel();
  EXPECT_TRUE(timers_.active().empty());
  poll(kQuietPolls);
  EXPECT_EQ(stops_, 0);

  drain_.start([this] { stops_ += 10; });
  poll(kQuietPolls * 2);
  EXPECT_EQ(stops_, 0) << "the report of the earlier pause does not count";
  drain_.handlersRan();
  poll(kQuietPolls);
  EXPECT_EQ(stops_, 10);
  drain_.handlersRan();  // after the stop: nothing happens
  EXPECT_FALSE(drain_.waiting());
}

}  // namespace
}  // namespace tavero::host
