#include "modules/TQPushNotification.h"

#include "log/Log.h"

namespace tavero::modules {

TQPushNotification::TQPushNotification(bridge::CallbackDelivery& callbacks, platform::PushService* push)
    : callbacks_(callbacks), push_(push) {
  addOperation("Register", [this](bridge::Invocation& invocation) { Register(invocation); });
}

unsigned TQPushNotification::platformNotificationTypes(int32_t pageTypes) {
  unsigned types = 0;
  if (pageTypes & 1) types |= platform::kPushAlert;
  if (pageTypes & 2) types |= platform::kPushBadge;
  if (pageTypes & 4) types |= platform::kPushSound;
  return types;
}

void TQPushNotification::Register(bridge::Invocation& invocation) {
  int32_t pageTypes = invocation.integer("type");
  {
    std::lock_guard lock(mutex_);
    success_ = invocation.integer("success");
    failure_ = invocation.integer("failure");
    received_ = invocation.integer("received");
  }
  if (!push_) {
    failedToReceiveRemoteNotificationWithError("this device has no push notification service");
    return;
  }
  push_->registerForRemoteNotificationTypes(platformNotificationTypes(pageTypes));
}

void TQPushNotification::didRegisterToReceiveRemoteNotifications(const std::string& tokenText) {
  int callback;
  {
    std::lock_guard lock(mutex_);
    callback = success_;
  }
  callbacks_.invokeCallback(callback, json::Value(tokenText));
}

void TQPushNotification::failedToReceiveRemoteNotificationWithError(const std::string& message) {
  log::info("push: registering failed: " + message);
  int callback;
  {
    std::lock_guard lock(mutex_);
    callback = failure_;
  }
  callbacks_.invokeCallback(callback, json::Value(message));
}

void TQPushNotification::didReceiveRemoteNotification(const json::Object& payload) {
  int callback;
  {
    std::lock_guard lock(mutex_);
    callback = received_;
  }
  callbacks_.invokeCallback(callback, json::Value(payload));
}

}  // namespace tavero::modules
