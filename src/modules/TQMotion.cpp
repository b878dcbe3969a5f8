#include "modules/TQMotion.h"

#include "log/Log.h"
#include "modules/FixedPointText.h"

namespace tavero::modules {
namespace {

json::Object vectorTexts(const platform::MotionVector& v, const char* x, const char* y, const char* z) {
  json::Object texts;
  texts.append(x, fixedPointText(v.x));
  texts.append(y, fixedPointText(v.y));
  texts.append(z, fixedPointText(v.z));
  return texts;
}

}  // namespace

TQMotion::TQMotion(bridge::CallbackDelivery& callbacks, platform::MotionService& motion)
    : callbacks_(callbacks), motion_(motion) {
  addOperation("watch", [this](bridge::Invocation& call) { watch(call); });
  addOperation("clearWatch", [this](bridge::Invocation& call) { clearWatch(call); });
}

TQMotion::~TQMotion() {
  std::lock_guard lock(streamsMutex_);
  gyro_.reset();
  accelerometer_.reset();
}

void TQMotion::watch(bridge::Invocation& call) {
  {
    std::lock_guard lock(stateMutex_);
    jsCallback_ = call.integer("callback");
    page_ = call.pageName();
    watching_ = true;
  }
  std::lock_guard lock(streamsMutex_);
  // The module stays the accelerometer's listener from its first watch on.
  if (!accelerometer_) {
    accelerometer_ = motion_.startAccelerometerUpdates(
        kUpdateInterval, [this](const platform::MotionVector& sample) { accelerometerDidAccelerate(sample); });
  }
  if (motion_.isGyroAvailable()) enableGyro();
}

void TQMotion::clearWatch(bridge::Invocation&) {
  // Stops the gyroscope even if it went away since the watch.
  std::lock_guard lock(streamsMutex_);
  disableGyro();
}

void TQMotion::pageDocumentEnded(std::string_view pageName) {
  {
    std::lock_guard lock(stateMutex_);
    if (!watching_ || page_ != pageName) return;
    watching_ = false;
  }
  // No lock of the state is held here: a sample in progress finishes first.
  std::lock_guard lock(streamsMutex_);
  accelerometer_.reset();
  disableGyro();
  log::debug("TQMotion: the watch of page \"" + std::string(pageName) + "\" ended with its document");
}

void TQMotion::enableGyro() {
  // Each watch starts the gyroscope afresh; the earlier stream ends first.
  gyro_.reset();
  gyro_ = motion_.startGyroUpdates(kUpdateInterval, [this](const platform::MotionVector& rate) {
    std::lock_guard lock(stateMutex_);
    rotationRate_ = rate;
  });
}

void TQMotion::disableGyro() { gyro_.reset(); }

void TQMotion::accelerometerDidAccelerate(const platform::MotionVector& sample) {
  json::Object reading;
  int32_t callback;
  std::string page;
  {
    std::lock_guard lock(stateMutex_);
    if (!watching_) return;  // the watch's document has gone
    accelerationValue_ = sample;
    auto& filtered = accelerationValueWithGravity_;
    filtered.x = sample.x * 0.1 + filtered.x * 0.9;
    filtered.y = sample.y * 0.1 + filtered.y * 0.9;
    filtered.z = sample.z * 0.1 + filtered.z * 0.9;
    reading.append("acceleration", vectorTexts(accelerationValue_, "x", "y", "z"));
    reading.append("accelerationIncludingGravity", vectorTexts(filtered, "x", "y", "z"));
    reading.append("rotationRate", vectorTexts(rotationRate_, "alpha", "beta", "gamma"));
    callback = jsCallback_;
    page = page_;
  }
  callbacks_.invokeCallback(callback, json::Value(std::move(reading)), page);
}

}  // namespace tavero::modules
