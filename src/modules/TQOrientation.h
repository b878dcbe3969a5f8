// The orientation module: after `watch`, every device-motion sample (every
// 0.02 s) reaches the page of the latest watch (the start page when the
// watch named no page) as the attitude in degrees, as texts:
//   {"alpha": roll, "beta": pitch, "gamma": yaw}
// Without a usable gyroscope nothing is started and nothing arrives.
// `clearWatch` stops the samples.
//
// Thread rules: operations from any thread; samples arrive on the motion
// service's thread. The callback id is behind a mutex; the destructor ends
// the sensor stream before the module goes.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "bridge/CallbackDelivery.h"
#include "bridge/TQW3CAction.h"
#include "platform/MotionService.h"

namespace tavero::modules {

class TQOrientation : public bridge::TQW3CAction {
 public:
  static constexpr std::string_view className = "TQOrientation";
  static constexpr platform::MotionService::Interval kUpdateInterval = std::chrono::milliseconds(20);

  // The services must outlive the module.
  TQOrientation(bridge::CallbackDelivery& callbacks, platform::MotionService& motion);
  ~TQOrientation() override;

  void watch(bridge::Invocation& invocation);
  void clearWatch(bridge::Invocation& invocation);
  // The watch of page `pageName` ends with its document.
  void pageDocumentEnded(std::string_view pageName) override;

  // The reading for one attitude sample (radians in, degree texts out).
  static json::Object orientationReading(const platform::Attitude& attitude);

 private:
  void handleDeviceMotion(const platform::Attitude& attitude);

  bridge::CallbackDelivery& callbacks_;
  platform::MotionService& motion_;

  std::mutex callbackMutex_;  // guards jsCallback_ and page_ (sensor thread and operations)
  int32_t jsCallback_ = 0;
  std::string page_;  // the page of the latest watch; empty: the start page

  std::mutex streamMutex_;  // serialises watch and clearWatch; guards deviceMotion_
  std::unique_ptr<platform::Subscription> deviceMotion_;
};

}  // namespace tavero::modules
