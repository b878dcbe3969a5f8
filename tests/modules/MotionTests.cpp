// The motion and orientation modules on hand-driven sensors: the filter,
// the texts, the gyroscope's part, watches replacing each other, and the
// modules on the real simulated sensor thread while they come and go.
#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <thread>

#include "modules/FixedPointText.h"
#include "modules/SensorFakes.h"
#include "modules/TQMotion.h"
#include "modules/TQOrientation.h"
#include "platform/sim/SimulatedMotionService.h"

namespace tavero::modules {
namespace {

using namespace testing;
using Kind = FakeMotionService::Kind;

const json::Object& entry(const RecordingDelivery::Delivery& delivery, const char* key) {
  return delivery.value.asObject().find(key)->asObject();
}
std::string entryText(const RecordingDelivery::Delivery& delivery, const char* key, const char* axis) {
  return entry(delivery, key).find(axis)->asString();
}

TEST(FixedPointText, WritesSixDigitsAsPrintfDoesInTheCLocaleWhateverTheLocale) {
  // A locale with a decimal comma, where one is installed, must not leak in.
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  for (double value : {0.5, -1.0, 0.0, -0.0, 1e-7, -1e-7, 123456.7890125, 1e20, -0.19, 90.0}) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "%f", value);
    std::string decimalPoint = std::localeconv()->decimal_point;
    std::string want = expected;
    if (decimalPoint != ".") want.replace(want.find(decimalPoint), decimalPoint.size(), ".");
    EXPECT_EQ(fixedPointText(value), want) << value;
  }
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(fixedPointText(0.5), "0.500000");
  EXPECT_EQ(fixedPointText(-1), "-1.000000");
}

class MotionTest : public ::testing::Test {
 protected:
  RecordingDelivery delivery;
  FakeMotionService motion;
  std::unique_ptr<TQMotion> module = std::make_unique<TQMotion>(delivery, motion);

  void watch(const char* callback) {
    auto invocation = call({{"callback", callback}});
    module->watch(invocation);
  }
  void clearWatch() {
    auto invocation = call({});
    module->clearWatch(invocation);
  }
};

TEST_F(MotionTest, FiltersTheAccelerationAndSendsEveryValueAsText) {
  watch("3");
  ASSERT_EQ(motion.running(Kind::Accelerometer), 1);
  EXPECT_EQ(motion.streams.begin()->second.interval, std::chrono::milliseconds(20));
  motion.accelerate({0, 0, -1});
  motion.accelerate({0, 0, -1});
  auto readings = delivery.take();
  ASSERT_EQ(readings.size(), 2u);
  EXPECT_EQ(readings[0].id, 3);
  EXPECT_EQ(readings[0].page, "");
  EXPECT_EQ(entryText(readings[0], "acceleration", "x"), "0.000000");
  EXPECT_EQ(entryText(readings[0], "acceleration", "z"), "-1.000000");
  EXPECT_EQ(entryText(readings[0], "accelerationIncludingGravity", "y"), "0.000000");
  EXPECT_EQ(entryText(readings[0], "accelerationIncludingGravity", "z"), "-0.100000");
  EXPECT_EQ(entryText(readings[1], "accelerationIncludingGravity", "z"), "-0.190000");
  EXPECT_EQ(entryText(readings[1], "rotationRate", "alpha"), "0.000000");
}

TEST_F(MotionTest, CarriesTheLatestRotationRateAndClearWatchStopsOnlyTheGyroscope) {
  watch("3");
  ASSERT_EQ(motion.running(Kind::Gyro), 1);
  motion.rotate({0.5, -1, 2});
  motion.accelerate({0, 0, -1});
  clearWatch();
  EXPECT_EQ(motion.running(Kind::Gyro), 0);
  EXPECT_EQ(motion.running(Kind::Accelerometer), 1);
  motion.accelerate({0, 0, -1});  // readings go on, the rotation rate frozen
  auto readings = delivery.take();
  ASSERT_EQ(readings.size(), 2u);
  for (const auto& reading : readings) {
    EXPECT_EQ(entryText(reading, "rotationRate", "alpha"), "0.500000");
    EXPECT_EQ(entryText(reading, "rotationRate", "beta"), "-1.000000");
    EXPECT_EQ(entryText(reading, "rotationRate", "gamma"), "2.000000");
    EXPECT_EQ(reading.id, 3);
  }
}

TEST_F(MotionTest, ASecondWatchSendsLaterReadingsToTheNewIdAndPageOnlyOnOneAccelerometerStream) {
  watch("3");
  auto second = call({{"callback", "9"}, {"__source", "file:///app/webapp/level.html"}});
  module->watch(second);
  EXPECT_EQ(motion.running(Kind::Accelerometer), 1);
  EXPECT_EQ(motion.running(Kind::Gyro), 1);  // the first gyroscope stream ended
  motion.accelerate({1, 2, 3});
  auto readings = delivery.take();
  ASSERT_EQ(readings.size(), 1u);
  EXPECT_EQ(readings[0].id, 9);
  EXPECT_EQ(readings[0].page, "level.html");
}

TEST_F(MotionTest, TheWatchEndsWithItsPagesDocumentAndNotWithAnothers) {
  auto level = call({{"callback", "4"}, {"__source", "file:///app/webapp/level.html"}});
  module->watch(level);
  module->pageDocumentEnded("index.html");
  EXPECT_EQ(motion.running(Kind::Accelerometer), 1);
  module->pageDocumentEnded("level.html");
  EXPECT_EQ(motion.running(Kind::Accelerometer), 0);
  EXPECT_EQ(motion.running(Kind::Gyro), 0);
  motion.accelerate({1, 2, 3});
  EXPECT_EQ(delivery.count(), 0u);

  module->watch(level);  // the next document watches anew
  motion.accelerate({1, 2, 3});
  EXPECT_EQ(delivery.count(), 1u);
}

TEST(Orientation, TheWatchEndsWithItsPagesDocument) {
  RecordingDelivery delivery;
  FakeMotionService motion;
  TQOrientation orientation(delivery, motion);
  auto watch = call({{"callback", "1"}, {"__source", "file:///app/webapp/compass.html"}});
  orientation.watch(watch);
  orientation.pageDocumentEnded("other.html");
  EXPECT_EQ(motion.running(Kind::DeviceMotion), 1);
  orientation.pageDocumentEnded("compass.html");
  EXPECT_EQ(motion.running(Kind::DeviceMotion), 0);
}

TEST(MotionWithoutGyroscope, ReportsARotationRateOfZeroAndOrientationReportsNothing) {
  RecordingDelivery delivery;
  FakeMotionService motion;
  motion.gyroAvailable = false;
  TQMotion module(delivery, motion);
  TQOrientation orientation(delivery, motion);
  auto invocation = call({{"callback", "1"}});
  module.watch(invocation);
  orientation.watch(invocation);
  EXPECT_EQ(motion.running(Kind::Gyro), 0);
  EXPECT_EQ(motion.running(Kind::DeviceMotion), 0);
  motion.accelerate({0, 0, -1});
  auto readings = delivery.take();
  ASSERT_EQ(readings.size(), 1u);
  EXPECT_EQ(entryText(readings[0], "rotationRate", "gamma"), "0.000000");
}

// Whatever the system's version says: a device with a gyroscope uses it.
TEST(MotionWithGyroscope, UsesItOnAnySystem) {
  RecordingDelivery delivery;
  FakeMotionService motion;
  motion.gyroAvailable = true;
  TQMotion module(delivery, motion);
  TQOrientation orientation(delivery, motion);
  auto invocation = call({{"callback", "1"}});
  module.watch(invocation);
  orientation.watch(invocation);
  EXPECT_EQ(motion.running(Kind::Gyro), 1);
  EXPECT_EQ(motion.running(Kind::DeviceMotion), 1);
}

TEST(Orientation, SendsTheAttitudeInDegreesToTheLatestIdUntilClearWatch) {
  RecordingDelivery delivery;
  FakeMotionService motion;
  TQOrientation orientation(delivery, motion);
  auto first = call({{"callback", "1"}});
  auto second = call({{"callback", "2"}});
  orientation.watch(first);
  orientation.watch(second);
  ASSERT_EQ(motion.running(Kind::DeviceMotion), 1);
  motion.turn({M_PI / 2, -M_PI, 0.25});
  auto readings = delivery.take();
  ASSERT_EQ(readings.size(), 1u);
  EXPECT_EQ(readings[0].id, 2);
  EXPECT_EQ(text(readings[0].value), text(json::Value(TQOrientation::orientationReading({M_PI / 2, -M_PI, 0.25}))));
  EXPECT_EQ(readings[0].value.asObject().find("alpha")->asString(), "90.000000");
  EXPECT_EQ(readings[0].value.asObject().find("beta")->asString(), "-180.000000");
  EXPECT_EQ(readings[0].value.asObject().find("gamma")->asString(), "14.323945");
  auto clear = call({});
  orientation.clearWatch(clear);
  EXPECT_EQ(motion.running(Kind::DeviceMotion), 0);
}

// The modules on the simulated sensors' own thread, with watches, clears
// and the modules' end racing the samples (ThreadSanitizer checks the
// locking); once a module is gone, nothing more is delivered for it.
TEST(MotionOnTheSensorThread, WatchesAndModulesComeAndGoWhileSamplesFlow) {
  RecordingDelivery delivery;
  platform::SimulatedMotionService sensors;
  for (int round = 0; round < 20; ++round) {
    auto motion = std::make_unique<TQMotion>(delivery, sensors);
    auto orientation = std::make_unique<TQOrientation>(delivery, sensors);
    std::thread other([&] {
      for (int i = 0; i < 10; ++i) {
        auto watch = call({{"callback", "7"}});
        auto clear = call({});
        orientation->watch(watch);
        motion->watch(watch);
        motion->clearWatch(clear);
        sensors.setAcceleration({0, 0, static_cast<double>(i)});
      }
    });
    other.join();
    motion.reset();
    orientation.reset();
    EXPECT_EQ(sensors.values().streams, 0u);
    size_t delivered = delivery.count();
    // Any sample still due would have to come through a stream; none is left.
    sensors.setAcceleration({1, 1, 1});
    EXPECT_EQ(delivery.count(), delivered);
  }
}

}  // namespace
}  // namespace tavero::modules
