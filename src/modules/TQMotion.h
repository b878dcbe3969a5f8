// The motion module: after `watch`, every accelerometer sample (every
// 0.02 s) reaches the page of the latest watch (the start page when the
// watch named no page) as a reading of texts:
//   {"acceleration": {x, y, z}, "accelerationIncludingGravity": {x, y, z},
//    "rotationRate": {alpha, beta, gamma}}
// where accelerationIncludingGravity is the low-pass filtered acceleration
// (each sample weighs 0.1) and rotationRate the latest gyroscope sample.
// `clearWatch` stops the gyroscope only: acceleration readings go on under
// the last callback id, with the rotation rate frozen. When the document of
// the watch's page goes away (navigated from, reloaded) both streams stop:
// the next document sets its watch up anew.
//
// Thread rules: operations from any thread; samples arrive on the motion
// service's thread. The filter state and the callback id are behind one
// mutex; the destructor ends every sensor stream before the state goes.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "bridge/CallbackDelivery.h"
#include "bridge/TQW3CAction.h"
#include "platform/MotionService.h"

namespace tavero::modules {

class TQMotion : public bridge::TQW3CAction {
 public:
  static constexpr std::string_view className = "TQMotion";
  static constexpr platform::MotionService::Interval kUpdateInterval = std::chrono::milliseconds(20);

  // The services must outlive the module.
  TQMotion(bridge::CallbackDelivery& callbacks, platform::MotionService& motion);
  ~TQMotion() override;

  void watch(bridge::Invocation& invocation);
  void clearWatch(bridge::Invocation& invocation);
  void pageDocumentEnded(std::string_view pageName) override;

  // One accelerometer sample: updates the filter and delivers a reading.
  void accelerometerDidAccelerate(const platform::MotionVector& sample);

 private:
  void enableGyro();
  void disableGyro();

  bridge::CallbackDelivery& callbacks_;
  platform::MotionService& motion_;

  std::mutex stateMutex_;  // guards the six fields below (sensor thread and operations)
  platform::MotionVector accelerationValue_;
  platform::MotionVector accelerationValueWithGravity_;
  platform::MotionVector rotationRate_;
  int32_t jsCallback_ = 0;
  std::string page_;  // the page of the latest watch; empty: the start page
  bool watching_ = false;  // a watch is set and its document is there

  // Serialises watch and clearWatch, which start and stop the streams. It is
  // never taken by a sample handler, so a stream may be ended under it.
  std::mutex streamsMutex_;  // guards accelerometer_ and gyro_
  std::unique_ptr<platform::Subscription> accelerometer_;
  std::unique_ptr<platform::Subscription> gyro_;
};

}  // namespace tavero::modules
