// Tells the user on the desktop what the app shows while they look
// elsewhere: a push notification with alert text that arrives while the
// app is in the background, and an alert opened while its window does not
// have the focus, also appear as desktop notifications under the app's
// name. Clicking one brings the app to the front (its window presented,
// and the app resumed when it was in the background).
//
// It stands between the push service and the application delegate, and
// between the pages' alerts and the window's presenter, passing everything
// on unchanged.
//
// Thread rules: main thread only (push outcomes and alerts arrive there).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "json/JsonValue.h"
#include "platform/AlertPresenter.h"
#include "platform/DesktopNotifier.h"
#include "platform/PushService.h"

namespace tavero::app {

class DesktopNotificationRelay : public platform::PushServiceDelegate, public platform::AlertPresenter {
 public:
  // What the relay asks of the shell.
  struct Shell {
    std::function<bool()> inBackground;
    std::function<bool()> windowFocused;
    std::function<void()> bringToFront;
  };

  // `notifier` and `alerts` must outlive the relay.
  DesktopNotificationRelay(platform::DesktopNotifier& notifier, platform::AlertPresenter& alerts, std::string appName,
                           Shell shell);

  // Where push outcomes go on to (may be null: they are dropped).
  void setPushDelegate(platform::PushServiceDelegate* delegate) { pushDelegate_ = delegate; }

  void didRegisterForRemoteNotificationsWithDeviceToken(const std::vector<uint8_t>& token) override;
  void didFailToRegisterForRemoteNotificationsWithError(const std::string& message) override;
  void didReceiveRemoteNotification(const json::Object& payload) override;
  void showAlert(platform::AlertRequest alert, std::function<void(int buttonIndex)> onPressed) override;

  // The desktop notification for a push payload: its "aps"."alert" as the
  // text under the app's name, or, as an object, its "title" and "body"
  // texts; nullopt when it has no alert text (a badge or data alone).
  static std::optional<platform::DesktopNotification> notificationForPayload(const json::Object& payload,
                                                                             const std::string& appName);

 private:
  void notify(platform::DesktopNotification notification);

  platform::DesktopNotifier& notifier_;
  platform::AlertPresenter& alerts_;
  std::string appName_;
  Shell shell_;
  platform::PushServiceDelegate* pushDelegate_ = nullptr;
};

}  // namespace tavero::app
