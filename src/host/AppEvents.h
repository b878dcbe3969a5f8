// Application events that modules turn into callbacks for the pages: pause
// and resume, an incoming URL, and the outcomes of push notifications. The
// application delegate calls them on the main thread; the defaults do
// nothing, for an application without those modules.
#pragma once

#include <functional>
#include <string>

#include "json/JsonValue.h"

namespace tavero::host {

class AppEvents {
 public:
  virtual ~AppEvents() = default;
  // `handlersRan` is called (on any thread) once the pages' pause handlers
  // have run; the application waits for it before the bridge stops.
  virtual void onDevicePause(std::function<void()> handlersRan) {
    if (handlersRan) handlersRan();
  }
  virtual void onDeviceResume() {}
  virtual void openURL(const std::string& /*url*/, const std::string& /*sourceApplication*/) {}
  virtual void didRegisterToReceiveRemoteNotifications(const std::string& /*tokenText*/) {}
  virtual void failedToReceiveRemoteNotificationWithError(const std::string& /*message*/) {}
  virtual void didReceiveRemoteNotification(const json::Object& /*payload*/) {}
};

}  // namespace tavero::host
