#include "modules/ModuleAppEvents.h"

#include "modules/TQDevice.h"
#include "modules/TQOpenURL.h"
#include "modules/TQPushNotification.h"

namespace tavero::modules {

void ModuleAppEvents::onDevicePause(std::function<void()> handlersRan) {
  modules_.sharedInstance<TQDevice>().onDevicePause(std::move(handlersRan));
}

void ModuleAppEvents::onDeviceResume() { modules_.sharedInstance<TQDevice>().onDeviceResume(); }

void ModuleAppEvents::openURL(const std::string& url, const std::string& sourceApplication) {
  modules_.sharedInstance<TQOpenURL>().openURL(url, sourceApplication);
}

void ModuleAppEvents::didRegisterToReceiveRemoteNotifications(const std::string& tokenText) {
  modules_.sharedInstance<TQPushNotification>().didRegisterToReceiveRemoteNotifications(tokenText);
}

void ModuleAppEvents::failedToReceiveRemoteNotificationWithError(const std::string& message) {
  modules_.sharedInstance<TQPushNotification>().failedToReceiveRemoteNotificationWithError(message);
}

void ModuleAppEvents::didReceiveRemoteNotification(const json::Object& payload) {
  modules_.sharedInstance<TQPushNotification>().didReceiveRemoteNotification(payload);
}

}  // namespace tavero::modules
