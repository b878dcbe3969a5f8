#include "app/DesktopNotificationRelay.h"

#include "log/Log.h"

namespace tavero::app {
namespace {

std::string textMember(const json::Object& object, const char* key) {
  const json::Value* value = object.find(key);
  return value && value->isString() ? value->asString() : std::string();
}

}  // namespace

DesktopNotificationRelay::DesktopNotificationRelay(platform::DesktopNotifier& notifier,
                                                   platform::AlertPresenter& alerts, std::string appName, Shell shell)
    : notifier_(notifier), alerts_(alerts), appName_(std::move(appName)), shell_(std::move(shell)) {}

void DesktopNotificationRelay::didRegisterForRemoteNotificationsWithDeviceToken(const std::vector<uint8_t>& token) {
  if (pushDelegate_) pushDelegate_->didRegisterForRemoteNotificationsWithDeviceToken(token);
}

void DesktopNotificationRelay::didFailToRegisterForRemoteNotificationsWithError(const std::string& message) {
  if (pushDelegate_) pushDelegate_->didFailToRegisterForRemoteNotificationsWithError(message);
}

void DesktopNotificationRelay::didReceiveRemoteNotification(const json::Object& payload) {
  if (shell_.inBackground()) {
    if (auto notification = notificationForPayload(payload, appName_)) notify(std::move(*notification));
  }
  if (pushDelegate_) pushDelegate_->didReceiveRemoteNotification(payload);
}

void DesktopNotificationRelay::showAlert(platform::AlertRequest alert, std::function<void(int buttonIndex)> onPressed) {
  std::optional<platform::DesktopNotification> notification;
  if (!shell_.windowFocused()) notification = {alert.title.empty() ? appName_ : alert.title, alert.message};
  alerts_.showAlert(std::move(alert), std::move(onPressed));
  if (notification) notify(std::move(*notification));
}

std::optional<platform::DesktopNotification> DesktopNotificationRelay::notificationForPayload(
    const json::Object& payload, const std::string& appName) {
  const json::Value* aps = payload.find("aps");
  const json::Value* alert = aps && aps->isObject() ? aps->asObject().find("alert") : nullptr;
  if (!alert) return std::nullopt;
  platform::DesktopNotification notification{.title = appName, .body = {}};
  if (alert->isString()) {
    notification.body = alert->asString();
  } else if (const json::Object* parts = alert->ifObject()) {
    std::string title = textMember(*parts, "title");
    notification.body = textMember(*parts, "body");
    if (title.empty() && notification.body.empty()) return std::nullopt;
    if (!title.empty()) notification.title = std::move(title);
  } else {
    return std::nullopt;
  }
  if (alert->isString() && notification.body.empty()) return std::nullopt;
  return notification;
}

void DesktopNotificationRelay::notify(platform::DesktopNotification notification) {
  notifier_.show(std::move(notification), [bringToFront = shell_.bringToFront] {
    log::info("notifications: the user clicked the app's notification; it comes to the front");
    bringToFront();
  });
}

}  // namespace tavero::app
