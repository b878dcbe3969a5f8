// Fakes of what the sensor modules talk to: a callback delivery that
// records, and location, motion and network services that the test drives
// by hand (each "sample" or "report" happens when the test says so).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bridge/CallbackDelivery.h"
#include "bridge/Invocation.h"
#include "json/JsonCodec.h"
#include "platform/LocationService.h"
#include "platform/MotionService.h"
#include "platform/NetworkReachability.h"

namespace tavero::modules::testing {

class RecordingDelivery : public bridge::CallbackDelivery {
 public:
  struct Delivery {
    int id;
    json::Value value;
    std::string page;
  };
  void invokeCallback(int id, const std::optional<json::Value>& value, std::string_view page) override {
    std::lock_guard lock(mutex_);
    deliveries_.push_back({id, value.value_or(json::Value("")), std::string(page)});
  }
  std::vector<Delivery> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(deliveries_, {});
  }
  size_t count() {
    std::lock_guard lock(mutex_);
    return deliveries_.size();
  }

 private:
  std::mutex mutex_;
  std::vector<Delivery> deliveries_;
};

// A call of an operation with the given query keys.
inline bridge::Invocation call(std::initializer_list<std::pair<const char*, const char*>> keys) {
  auto arguments = std::make_shared<json::Object>();
  for (auto [key, value] : keys) arguments->append(key, json::Value(value));
  return bridge::Invocation(std::move(arguments));
}

class FakeLocationService : public platform::LocationService {
 public:
  bool locationServicesEnabled() const override { return enabled; }
  void setDesiredAccuracy(platform::LocationAccuracy a) override { accuracy = a; }
  void setDelegate(Delegate d) override { delegate = std::move(d); }
  void setFailureDelegate(FailureDelegate d) override { failureDelegate = std::move(d); }
  void startUpdatingLocation() override {
    ++starts, updating = true;
    // As if the service's thread failed while the caller was still between
    // the start and its next step.
    if (failWhenStarted) fail("the service is gone");
  }
  void stopUpdatingLocation() override { ++stops, updating = false; }
  void report(const platform::LocationFix& fix) {
    if (delegate) delegate(fix);
  }
  // The service finds it cannot start, as GeoClue does when nothing answers.
  void fail(const std::string& reason) {
    enabled = false;
    if (failureDelegate) failureDelegate(reason);
  }

  bool enabled = true;
  bool updating = false;
  int starts = 0;
  int stops = 0;
  bool failWhenStarted = false;
  std::optional<platform::LocationAccuracy> accuracy;
  Delegate delegate;
  FailureDelegate failureDelegate;
};

// Streams stay in `streams` while their subscription lives; the test calls
// their handlers as the sensor thread would.
class FakeMotionService : public platform::MotionService {
 public:
  enum class Kind { Accelerometer, Gyro, DeviceMotion };
  struct Stream {
    Kind kind;
    Interval interval;
    std::function<void(const platform::MotionVector&)> vector;
    std::function<void(const platform::Attitude&)> attitude;
  };

  bool isGyroAvailable() const override { return gyroAvailable; }
  std::unique_ptr<platform::Subscription> startAccelerometerUpdates(
      Interval interval, std::function<void(const platform::MotionVector&)> handler) override {
    return add({Kind::Accelerometer, interval, std::move(handler), {}});
  }
  std::unique_ptr<platform::Subscription> startGyroUpdates(
      Interval interval, std::function<void(const platform::MotionVector&)> handler) override {
    return gyroAvailable ? add({Kind::Gyro, interval, std::move(handler), {}}) : nullptr;
  }
  std::unique_ptr<platform::Subscription> startDeviceMotionUpdates(
      Interval interval, std::function<void(const platform::Attitude&)> handler) override {
    return gyroAvailable ? add({Kind::DeviceMotion, interval, {}, std::move(handler)}) : nullptr;
  }

  int running(Kind kind) const {
    int n = 0;
    for (const auto& [id, stream] : streams) n += stream.kind == kind;
    return n;
  }
  void accelerate(const platform::MotionVector& sample) { send(Kind::Accelerometer, sample); }
  void rotate(const platform::MotionVector& rate) { send(Kind::Gyro, rate); }
  void turn(const platform::Attitude& attitude) {
    for (auto& [id, stream] : streams) {
      if (stream.kind == Kind::DeviceMotion) stream.attitude(attitude);
    }
  }

  bool gyroAvailable = true;
  std::map<int, Stream> streams;

 private:
  class Handle : public platform::Subscription {
   public:
    Handle(FakeMotionService& service, int id) : service_(service), id_(id) {}
    ~Handle() override { service_.streams.erase(id_); }

   private:
    FakeMotionService& service_;
    int id_;
  };
  std::unique_ptr<platform::Subscription> add(Stream stream) {
    streams[++lastId_] = std::move(stream);
    return std::make_unique<Handle>(*this, lastId_);
  }
  void send(Kind kind, const platform::MotionVector& v) {
    for (auto& [id, stream] : streams) {
      if (stream.kind == kind) stream.vector(v);
    }
  }
  int lastId_ = 0;
};

class FakeNetwork : public platform::NetworkReachability {
 public:
  std::optional<uint32_t> currentFlags() override { return flags; }
  std::unique_ptr<platform::Subscription> startNotifier(std::function<void()> changed) override {
    ++notifiersStarted;
    if (!notifierWorks) return nullptr;
    handlers[++lastId_] = std::move(changed);
    return std::make_unique<Handle>(*this, lastId_);
  }
  void change(std::optional<uint32_t> newFlags) {
    flags = newFlags;
    for (auto& [id, handler] : handlers) handler();
  }

  std::optional<uint32_t> flags = platform::reachability::kReachable;
  bool notifierWorks = true;
  int notifiersStarted = 0;
  std::map<int, std::function<void()>> handlers;

 private:
  class Handle : public platform::Subscription {
   public:
    Handle(FakeNetwork& network, int id) : network_(network), id_(id) {}
    ~Handle() override { network_.handlers.erase(id_); }

   private:
    FakeNetwork& network_;
    int id_;
  };
  int lastId_ = 0;
};

// The value as one line of JSON, inside an array: the codec's layout
// without its line breaks and tabs ("[{ "type" : "WIFI", "online" : "1"}]").
inline std::string text(const json::Value& value) {
  std::string layout = json::JsonCodec::jsonStringValueWithIndentLevel(json::Array{value}, 0);
  std::erase_if(layout, [](char c) { return c == '\n' || c == '\t'; });
  return layout;
}

}  // namespace tavero::modules::testing
