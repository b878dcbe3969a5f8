// The device's push notification service: registering for remote
// notifications gives a device token (or a failure), and notifications for
// the app arrive later. Outcomes go to the application's delegate.
//
// Thread rules: registerForRemoteNotificationTypes() from any thread;
// setDelegate() on the main thread; the delegate is called on the main
// thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "json/JsonValue.h"

namespace tavero::platform {

// The kinds of notification an app asks for, as the push service numbers them.
enum PushNotificationType : unsigned {
  kPushBadge = 1,
  kPushSound = 2,
  kPushAlert = 4,
};

class PushServiceDelegate {
 public:
  virtual ~PushServiceDelegate() = default;
  virtual void didRegisterForRemoteNotificationsWithDeviceToken(const std::vector<uint8_t>& token) = 0;
  virtual void didFailToRegisterForRemoteNotificationsWithError(const std::string& message) = 0;
  virtual void didReceiveRemoteNotification(const json::Object& payload) = 0;
};

class PushService {
 public:
  virtual ~PushService() = default;
  // Null: outcomes are dropped. REQUIRES: the delegate outlives the service
  // or is replaced first.
  virtual void setDelegate(PushServiceDelegate* delegate) = 0;
  // Asks for the notification kinds in `types` (PushNotificationType bits).
  virtual void registerForRemoteNotificationTypes(unsigned types) = 0;
};

}  // namespace tavero::platform
