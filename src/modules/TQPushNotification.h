// Push notifications for the page: `Register` asks the device's push
// service for notifications and reports the device token (or why there is
// none); notifications that arrive later are delivered to the page.
// Deliveries name no page, so they reach the start page.
//
// Thread rules: Register on bridge threads; the did... methods on the main
// thread (the application delegate). State is guarded.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "bridge/CallbackDelivery.h"
#include "bridge/TQW3CAction.h"
#include "platform/PushService.h"

namespace tavero::modules {

class TQPushNotification : public bridge::TQW3CAction {
 public:
  static constexpr std::string_view className = "TQPushNotification";

  // `push` may be null (a shell without a push service: registering fails).
  TQPushNotification(bridge::CallbackDelivery& callbacks, platform::PushService* push);

  // Reads "type" (page bits: 1 alert, 2 badge, 4 sound) and the callback
  // ids "success", "failure" and "received", and registers.
  void Register(bridge::Invocation& invocation);

  void didRegisterToReceiveRemoteNotifications(const std::string& tokenText);
  void failedToReceiveRemoteNotificationWithError(const std::string& message);
  void didReceiveRemoteNotification(const json::Object& payload);

  // The page's kinds as the push service numbers them: alert 1 -> 4,
  // badge 2 -> 1, sound 4 -> 2; other bits are dropped.
  static unsigned platformNotificationTypes(int32_t pageTypes);

 private:
  bridge::CallbackDelivery& callbacks_;
  platform::PushService* push_;
  mutable std::mutex mutex_;  // guards the three callback ids
  int success_ = 0;
  int failure_ = 0;
  int received_ = 0;
};

}  // namespace tavero::modules
