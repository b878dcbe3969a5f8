#include "platform/sim/SimulatedMotionService.h"

#include <algorithm>

namespace tavero::platform {

class SimulatedMotionService::StreamSubscription : public Subscription {
 public:
  StreamSubscription(SimulatedMotionService& service, uint64_t id) : service_(service), id_(id) {}
  ~StreamSubscription() override { service_.removeStream(id_); }

 private:
  SimulatedMotionService& service_;
  uint64_t id_;
};

SimulatedMotionService::SimulatedMotionService() {
  sampler_ = std::thread([this] { samplerLoop(); });
}

SimulatedMotionService::~SimulatedMotionService() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  sampler_.join();
}

bool SimulatedMotionService::isGyroAvailable() const {
  std::lock_guard lock(mutex_);
  return gyroAvailable_;
}

std::unique_ptr<Subscription> SimulatedMotionService::startAccelerometerUpdates(
    Interval interval, std::function<void(const MotionVector&)> handler) {
  return addStream(interval, Handler(std::in_place_index<0>, std::move(handler)));
}

std::unique_ptr<Subscription> SimulatedMotionService::startGyroUpdates(
    Interval interval, std::function<void(const MotionVector&)> handler) {
  if (!isGyroAvailable()) return nullptr;
  return addStream(interval, Handler(std::in_place_index<1>, std::move(handler)));
}

std::unique_ptr<Subscription> SimulatedMotionService::startDeviceMotionUpdates(
    Interval interval, std::function<void(const Attitude&)> handler) {
  if (!isGyroAvailable()) return nullptr;
  return addStream(interval, Handler(std::in_place_index<2>, std::move(handler)));
}

std::unique_ptr<Subscription> SimulatedMotionService::addStream(Interval interval, Handler handler) {
  uint64_t id;
  {
    std::lock_guard lock(mutex_);
    id = ++lastStreamId_;
    auto period = std::chrono::duration_cast<Clock::duration>(std::max(interval, kMinimumInterval));
    streams_[id] = Stream{std::move(handler), period, Clock::now() + period};
  }
  wake_.notify_all();
  return std::make_unique<StreamSubscription>(*this, id);
}

void SimulatedMotionService::removeStream(uint64_t id) {
  {
    std::lock_guard lock(mutex_);
    streams_.erase(id);
  }
  // A sample of this stream may be in its handler right now: wait for it,
  // unless this is that handler's own thread.
  if (std::this_thread::get_id() != sampler_.get_id()) std::lock_guard wait(handlerMutex_);
}

void SimulatedMotionService::setGyroAvailable(bool available) {
  std::lock_guard lock(mutex_);
  gyroAvailable_ = available;
}

void SimulatedMotionService::setAcceleration(const MotionVector& acceleration) {
  std::lock_guard lock(mutex_);
  endTrace();
  acceleration_ = acceleration;
}

void SimulatedMotionService::setRotationRate(const MotionVector& rotationRate) {
  std::lock_guard lock(mutex_);
  endTrace();
  rotationRate_ = rotationRate;
}

void SimulatedMotionService::setAttitude(const Attitude& attitude) {
  std::lock_guard lock(mutex_);
  endTrace();
  attitude_ = attitude;
}

void SimulatedMotionService::playTrace(MotionTrace trace) {
  std::lock_guard lock(mutex_);
  trace_ = std::move(trace);
  nextTraceRow_ = 0;
  traceStart_ = Clock::now();
  advanceTrace(traceStart_);  // the first row applies at once
}

SimulatedMotionService::Values SimulatedMotionService::values() const {
  std::lock_guard lock(mutex_);
  return Values{gyroAvailable_, acceleration_, rotationRate_, attitude_, streams_.size(),
                trace_.size() - nextTraceRow_};
}

void SimulatedMotionService::endTrace() {
  trace_.clear();
  nextTraceRow_ = 0;
}

void SimulatedMotionService::advanceTrace(Clock::time_point now) {
  double elapsed = std::chrono::duration<double>(now - traceStart_).count();
  while (nextTraceRow_ < trace_.size() && trace_[nextTraceRow_].offset <= elapsed) {
    const MotionTraceRow& row = trace_[nextTraceRow_++];
    if (row.acceleration) acceleration_ = *row.acceleration;
    if (row.rotationRate) rotationRate_ = *row.rotationRate;
    if (row.attitude) attitude_ = *row.attitude;
  }
  if (nextTraceRow_ == trace_.size()) endTrace();
}

void SimulatedMotionService::samplerLoop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (streams_.empty()) {
      wake_.wait(lock);
      continue;
    }
    auto due = std::min_element(streams_.begin(), streams_.end(), [](const auto& a, const auto& b) {
      return a.second.nextSample < b.second.nextSample;
    });
    auto now = Clock::now();
    if (now < due->second.nextSample) {
      // A copy: the stream may be removed while this thread waits.
      Clock::time_point next = due->second.nextSample;
      wake_.wait_until(lock, next);
      continue;
    }
    Stream& stream = due->second;
    // Keep to the stream's own schedule; after a stall, skip the samples
    // missed instead of sending a burst.
    stream.nextSample += stream.interval;
    if (stream.nextSample <= now) stream.nextSample = now + stream.interval;
    advanceTrace(now);
    Handler handler = stream.handler;
    MotionVector acceleration = acceleration_, rotationRate = rotationRate_;
    Attitude attitude = attitude_;
    // The handler lock is taken before the state lock is let go, so a
    // removal that finished under the state lock is never followed by a call.
    std::unique_lock running(handlerMutex_);
    lock.unlock();
    switch (handler.index()) {
      case 0: std::get<0>(handler)(acceleration); break;
      case 1: std::get<1>(handler)(rotationRate); break;
      case 2: std::get<2>(handler)(attitude); break;
    }
    running.unlock();
    lock.lock();
  }
}

}  // namespace tavero::platform
