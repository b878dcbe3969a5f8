// The device's motion sensors: the accelerometer, the gyroscope and the
// fused attitude ("device motion"). Each stream delivers samples at about
// the interval asked for until its Subscription is destroyed.
//
// Thread rules: every method from any thread. Handlers run on a sensor
// thread of the service's own, never inline; see Subscription.h for when
// they stop.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "platform/Subscription.h"

namespace tavero::platform {

struct MotionVector {
  double x = 0;
  double y = 0;
  double z = 0;
  bool operator==(const MotionVector&) const = default;
};

// Radians.
struct Attitude {
  double roll = 0;
  double pitch = 0;
  double yaw = 0;
  bool operator==(const Attitude&) const = default;
};

class MotionService {
 public:
  using Interval = std::chrono::microseconds;

  virtual ~MotionService() = default;

  virtual bool isGyroAvailable() const = 0;

  // Acceleration in units of gravity.
  virtual std::unique_ptr<Subscription> startAccelerometerUpdates(
      Interval interval, std::function<void(const MotionVector&)> handler) = 0;
  // Rotation rate in radians per second. Null when there is no gyroscope.
  virtual std::unique_ptr<Subscription> startGyroUpdates(Interval interval,
                                                         std::function<void(const MotionVector&)> handler) = 0;
  // The device's attitude. Null when there is no gyroscope.
  virtual std::unique_ptr<Subscription> startDeviceMotionUpdates(
      Interval interval, std::function<void(const Attitude&)> handler) = 0;
};

}  // namespace tavero::platform
