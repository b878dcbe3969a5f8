// The simulated motion sensors: a gyroscope present or not, and the current
// acceleration, rotation rate and attitude, set by the device profile and
// `tavero device sensor ...`, or played from a recorded trace in real time.
// One sensor thread serves every stream at the interval it asked for (no
// faster than every 10 ms), each sample taking the values of that moment.
//
// Thread rules: every method from any thread (see MotionService.h).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <variant>

#include "platform/MotionService.h"
#include "platform/sim/MotionTrace.h"

namespace tavero::platform {

class SimulatedMotionService : public MotionService {
 public:
  static constexpr Interval kMinimumInterval = std::chrono::milliseconds(10);

  SimulatedMotionService();
  ~SimulatedMotionService() override;

  SimulatedMotionService(const SimulatedMotionService&) = delete;
  SimulatedMotionService& operator=(const SimulatedMotionService&) = delete;

  // MotionService
  bool isGyroAvailable() const override;
  std::unique_ptr<Subscription> startAccelerometerUpdates(
      Interval interval, std::function<void(const MotionVector&)> handler) override;
  std::unique_ptr<Subscription> startGyroUpdates(Interval interval,
                                                 std::function<void(const MotionVector&)> handler) override;
  std::unique_ptr<Subscription> startDeviceMotionUpdates(Interval interval,
                                                         std::function<void(const Attitude&)> handler) override;

  // Control (profile, `tavero device`). Setting a value ends a trace.
  void setGyroAvailable(bool available);
  void setAcceleration(const MotionVector& acceleration);
  void setRotationRate(const MotionVector& rotationRate);
  void setAttitude(const Attitude& attitude);
  // Plays `trace` from its first row now; ends any earlier trace.
  void playTrace(MotionTrace trace);

  struct Values {
    bool gyroAvailable;
    MotionVector acceleration;
    MotionVector rotationRate;
    Attitude attitude;
    size_t streams;          // streams running now
    size_t traceRowsLeft;
  };
  Values values() const;

 private:
  using Clock = std::chrono::steady_clock;
  using Handler = std::variant<std::function<void(const MotionVector&)>,  // acceleration
                               std::function<void(const MotionVector&)>,  // rotation rate
                               std::function<void(const Attitude&)>>;
  struct Stream {
    Handler handler;
    Clock::duration interval;
    Clock::time_point nextSample;
  };
  class StreamSubscription;

  std::unique_ptr<Subscription> addStream(Interval interval, Handler handler);
  void removeStream(uint64_t id);
  void samplerLoop();
  void advanceTrace(Clock::time_point now);  // REQUIRES: mutex_ held
  void endTrace();                          // REQUIRES: mutex_ held

  mutable std::mutex mutex_;  // guards every field below up to the thread
  std::condition_variable wake_;
  bool stopping_ = false;
  bool gyroAvailable_ = true;
  MotionVector acceleration_{0, 0, -1};  // lying flat, face up
  MotionVector rotationRate_;
  Attitude attitude_;
  MotionTrace trace_;
  size_t nextTraceRow_ = 0;
  Clock::time_point traceStart_;
  uint64_t lastStreamId_ = 0;
  std::map<uint64_t, Stream> streams_;

  std::mutex handlerMutex_;  // held while a handler runs, so removal can wait for it
  std::thread sampler_;
};

}  // namespace tavero::platform
