#include "modules/TQOrientation.h"

#include "modules/FixedPointText.h"

namespace tavero::modules {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::string degreesText(double radians) { return fixedPointText(radians * 180.0 / kPi); }

}  // namespace

TQOrientation::TQOrientation(bridge::CallbackDelivery& callbacks, platform::MotionService& motion)
    : callbacks_(callbacks), motion_(motion) {
  addOperation("watch", [this](bridge::Invocation& call) { watch(call); });
  addOperation("clearWatch", [this](bridge::Invocation& call) { clearWatch(call); });
}

TQOrientation::~TQOrientation() {
  std::lock_guard lock(streamMutex_);
  deviceMotion_.reset();
}

json::Object TQOrientation::orientationReading(const platform::Attitude& attitude) {
  json::Object reading;
  reading.append("alpha", degreesText(attitude.roll));
  reading.append("beta", degreesText(attitude.pitch));
  reading.append("gamma", degreesText(attitude.yaw));
  return reading;
}

void TQOrientation::watch(bridge::Invocation& call) {
  {
    std::lock_guard lock(callbackMutex_);
    jsCallback_ = call.integer("callback");
    page_ = call.pageName();
  }
  std::lock_guard lock(streamMutex_);
  if (!motion_.isGyroAvailable()) return;
  deviceMotion_.reset();  // each watch starts the samples afresh
  deviceMotion_ = motion_.startDeviceMotionUpdates(
      kUpdateInterval, [this](const platform::Attitude& attitude) { handleDeviceMotion(attitude); });
}

void TQOrientation::clearWatch(bridge::Invocation&) {
  // Stops the samples even if the gyroscope went away since the watch.
  std::lock_guard lock(streamMutex_);
  deviceMotion_.reset();
}

void TQOrientation::pageDocumentEnded(std::string_view pageName) {
  {
    std::lock_guard lock(callbackMutex_);
    if (page_ != pageName) return;
  }
  // The next document of the page sets its watch up anew.
  std::lock_guard lock(streamMutex_);
  deviceMotion_.reset();
}

void TQOrientation::handleDeviceMotion(const platform::Attitude& attitude) {
  int32_t callback;
  std::string page;
  {
    std::lock_guard lock(callbackMutex_);
    callback = jsCallback_;
    page = page_;
  }
  callbacks_.invokeCallback(callback, json::Value(orientationReading(attitude)), page);
}

}  // namespace tavero::modules
