// The application's events, handed to the modules that tell the pages:
// TQDevice (pause, resume), TQOpenURL (incoming URLs) and
// TQPushNotification (token, failure, notifications).
//
// Thread rules: as AppEvents (main thread).
#pragma once

#include "bridge/ModuleRegistry.h"
#include "host/AppEvents.h"

namespace tavero::modules {

class ModuleAppEvents : public host::AppEvents {
 public:
  // `modules` holds the catalog's modules and must outlive this object.
  explicit ModuleAppEvents(bridge::ModuleRegistry& modules) : modules_(modules) {}

  void onDevicePause(std::function<void()> handlersRan) override;
  void onDeviceResume() override;
  void openURL(const std::string& url, const std::string& sourceApplication) override;
  void didRegisterToReceiveRemoteNotifications(const std::string& tokenText) override;
  void failedToReceiveRemoteNotificationWithError(const std::string& message) override;
  void didReceiveRemoteNotification(const json::Object& payload) override;

 private:
  bridge::ModuleRegistry& modules_;
};

}  // namespace tavero::modules
