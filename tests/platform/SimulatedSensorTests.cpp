// The simulated location and motion services and the forced network
// status, on their real threads. Tests wait for events on a condition with
// a generous bound; nothing depends on how fast the machine is.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/sim/ForcedNetworkReachability.h"
#include "platform/sim/SimulatedLocationService.h"
#include "platform/sim/SimulatedMotionService.h"

namespace tavero::platform {
namespace {

constexpr auto kPatience = std::chrono::seconds(20);

// What a handler received, for the test thread to wait on.
template <class T>
class Inbox {
 public:
  void put(const T& item) {
    {
      std::lock_guard lock(mutex_);
      items_.push_back(item);
    }
    arrived_.notify_all();
  }
  // Waits until at least `count` items arrived; all of them so far.
  std::vector<T> waitFor(size_t count) {
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, kPatience, [&] { return items_.size() >= count; });
    return items_;
  }
  size_t size() {
    std::lock_guard lock(mutex_);
    return items_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<T> items_;
};

TEST(SimulatedLocation, ReportsTheCurrentPositionOnStartThenEachNewOneStampedWhenReported) {
  double now = 1000;
  Inbox<LocationFix> fixes;  // outlives the service's reporting thread
  SimulatedLocationService location([&] { return now; });
  location.setDelegate([&](const LocationFix& fix) { fixes.put(fix); });
  location.setFix(LocationFix{48.5, 2.25, 0, 5, 10, -1, -1, 0});
  EXPECT_EQ(fixes.size(), 0u);  // nothing while updates are stopped
  location.startUpdatingLocation();
  auto got = fixes.waitFor(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].latitude, 48.5);
  EXPECT_EQ(got[0].timestamp, 1000);
  location.setFix(LocationFix{1, 2, 0, 5, 10, -1, -1, 0});
  got = fixes.waitFor(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].latitude, 1);
  location.setDelegate({});
  location.setFix(LocationFix{3, 4, 0, 5, 10, -1, -1, 0});
  EXPECT_EQ(location.status().position->latitude, 3);
}

TEST(SimulatedLocation, PlaysATrackInOrderAndKeepsItsLastPoint) {
  Inbox<LocationFix> fixes;  // outlives the service's reporting thread
  SimulatedLocationService location;
  location.setDelegate([&](const LocationFix& fix) { fixes.put(fix); });
  location.startUpdatingLocation();
  LocationTrack track;
  for (int i = 0; i < 4; ++i) track.push_back({i * 0.01, LocationFix{double(i), 0, 0, 5, 10, 0, 1, 0}});
  location.playTrack(track);
  auto got = fixes.waitFor(4);
  ASSERT_EQ(got.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(got[i].latitude, i);
  EXPECT_EQ(location.status().trackPointsLeft, 0u);
  EXPECT_EQ(location.status().position->latitude, 3);
  location.setEnabled(false);
  EXPECT_FALSE(location.locationServicesEnabled());
  EXPECT_FALSE(location.status().updating);  // switched off, it stops reporting
}

TEST(SimulatedMotion, StreamsTakeTheValuesOfTheMomentAndStopWhenTheirSubscriptionGoes) {
  SimulatedMotionService motion;
  motion.setAcceleration({0, 0, -1});
  Inbox<MotionVector> samples;
  auto stream = motion.startAccelerometerUpdates(std::chrono::milliseconds(20),
                                                 [&](const MotionVector& v) { samples.put(v); });
  auto got = samples.waitFor(1);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got[0], (MotionVector{0, 0, -1}));
  motion.setAcceleration({1, 2, 3});
  size_t before = samples.size();
  got = samples.waitFor(before + 2);
  EXPECT_EQ(got.back(), (MotionVector{1, 2, 3}));
  stream.reset();
  EXPECT_EQ(motion.values().streams, 0u);
  size_t after = samples.size();
  motion.setAcceleration({4, 5, 6});
  EXPECT_EQ(samples.size(), after);
}

TEST(SimulatedMotion, WithoutAGyroscopeOnlyTheAccelerometerStarts) {
  SimulatedMotionService motion;
  motion.setGyroAvailable(false);
  EXPECT_FALSE(motion.startGyroUpdates(std::chrono::milliseconds(20), [](const MotionVector&) {}));
  EXPECT_FALSE(motion.startDeviceMotionUpdates(std::chrono::milliseconds(20), [](const Attitude&) {}));
  EXPECT_TRUE(motion.startAccelerometerUpdates(std::chrono::milliseconds(20), [](const MotionVector&) {}));
}

TEST(SimulatedMotion, AppliesATraceRowByRowAndAManualValueEndsIt) {
  SimulatedMotionService motion;
  MotionTrace trace = {{0, MotionVector{0, 0, -1}, std::nullopt, Attitude{0.1, 0, 0}},
                       {0.02, MotionVector{0, 0.5, -1}, MotionVector{1, 1, 1}, std::nullopt},
                       {0.04, std::nullopt, std::nullopt, Attitude{0.3, 0, 0}}};
  Inbox<Attitude> attitudes;
  auto stream = motion.startDeviceMotionUpdates(std::chrono::milliseconds(10), [&](const Attitude& a) {
    attitudes.put(a);
  });
  motion.playTrace(trace);
  EXPECT_EQ(motion.values().attitude, (Attitude{0.1, 0, 0}));  // the first row at once
  // Samples follow the trace until its last row has been applied.
  // On a busy machine more than one sample may have come by the time a
  // wait returns: wait for one more than seen each time.
  for (size_t seen = 1;; ++seen) {
    auto got = attitudes.waitFor(seen);
    ASSERT_GE(got.size(), seen);
    if (got.back() == (Attitude{0.3, 0, 0})) break;
    seen = got.size();
  }
  auto values = motion.values();
  EXPECT_EQ(values.acceleration, (MotionVector{0, 0.5, -1}));
  EXPECT_EQ(values.rotationRate, (MotionVector{1, 1, 1}));
  EXPECT_EQ(values.traceRowsLeft, 0u);
  motion.playTrace(trace);
  motion.setAttitude({2, 2, 2});
  EXPECT_EQ(motion.values().traceRowsLeft, 0u);
}

class FixedReachability : public NetworkReachability {
 public:
  std::optional<uint32_t> currentFlags() override { return flags; }
  std::unique_ptr<Subscription> startNotifier(std::function<void()> changed) override {
    handler = std::move(changed);
    return std::make_unique<Subscription>();
  }
  std::optional<uint32_t> flags = reachability::kReachable;
  std::function<void()> handler;
};

TEST(ForcedNetwork, ForcedStatusWinsAndTellsNotifiersAndRealChangesPassOnlyWhenNotForced) {
  FixedReachability real;
  ForcedNetworkReachability network(real);
  int events = 0;
  auto notifier = network.startNotifier([&] { ++events; });
  EXPECT_EQ(network.currentFlags(), reachability::kReachable);
  network.force(ForcedNetworkStatus::Cell);
  EXPECT_EQ(events, 1);
  EXPECT_EQ(network.currentFlags(), reachability::kReachable | reachability::kIsWWAN);
  real.handler();  // a real change while forced is not passed on
  EXPECT_EQ(events, 1);
  network.force(ForcedNetworkStatus::None);
  EXPECT_EQ(network.currentFlags(), 0u);
  network.force(std::nullopt);
  EXPECT_EQ(events, 3);
  real.flags.reset();
  real.handler();
  EXPECT_EQ(events, 4);
  EXPECT_EQ(network.currentFlags(), std::nullopt);
  notifier.reset();
  network.force(ForcedNetworkStatus::Wifi);
  EXPECT_EQ(events, 4);
}

}  // namespace
}  // namespace tavero::platform
