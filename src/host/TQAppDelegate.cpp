#include "host/TQAppDelegate.h"

#include <filesystem>
#include <system_error>

#include "bridge/QLTaveroBridge.h"
#include "host/TQLocalStoreageFix.h"
#include "json/Hex.h"
#include "log/Log.h"

namespace tavero::host {

TQAppDelegate::TQAppDelegate(base::MainThread& mainThread, platform::WebViewHost& host, TQEngine& engine,
                             bridge::QLTaveroBridge* bridge, platform::HomeFolders home, AppEvents& events,
                             platform::ApplicationBadge* badge)
    : mainThread_(mainThread),
      host_(host), engine_(engine), bridge_(bridge), home_(std::move(home)), events_(events), badge_(badge) {}

bool TQAppDelegate::didFinishLaunching() {
  if (badge_) badge_->setApplicationIconBadgeNumber(0);
  TQLocalStoreageFix::restoreLocalStorage(home_);
  liveStorageSeen_ = std::filesystem::exists(TQLocalStoreageFix::liveDatabasePath(home_));
  host_.showWindow();
  engine_.start();
  return engine_.waitForWebViewToLoad();
}

void TQAppDelegate::preserveLocalStorage() {
  std::error_code ec;
  if (std::filesystem::exists(TQLocalStoreageFix::liveDatabasePath(home_), ec)) {
    liveStorageSeen_ = true;
    TQLocalStoreageFix::preserveLocalStorage(home_);
  } else if (liveStorageSeen_ && std::filesystem::remove(TQLocalStoreageFix::backupPath(home_), ec)) {
    log::info("local storage: the pages emptied it; its backup is removed too");
  }
}

void TQAppDelegate::willResignActive() { preserveLocalStorage(); }

void TQAppDelegate::didEnterBackground() {
  events_.onDevicePause();
  if (bridge_) bridge_->stopServer();
}

void TQAppDelegate::willEnterForeground() {
  if (bridge_) {
    if (auto ec = bridge_->startServer()) log::error("the bridge cannot listen again: " + ec.message());
  }
  events_.onDeviceResume();
}

void TQAppDelegate::willTerminate() {
  mainThread_.runFor(kLocalStorageCommitDelay);
  preserveLocalStorage();
}

bool TQAppDelegate::openURL(const std::string& url, const std::string& sourceApplication) {
  events_.openURL(url, sourceApplication);
  return true;
}

std::string TQAppDelegate::tokenText(const std::vector<uint8_t>& token) {
  return json::hexText(token);
}

void TQAppDelegate::didRegisterForRemoteNotificationsWithDeviceToken(const std::vector<uint8_t>& token) {
  token_ = tokenText(token);
  events_.didRegisterToReceiveRemoteNotifications(*token_);
}

void TQAppDelegate::didFailToRegisterForRemoteNotificationsWithError(const std::string& message) {
  events_.failedToReceiveRemoteNotificationWithError(message);
}

void TQAppDelegate::didReceiveRemoteNotification(const json::Object& payload) {
  if (badge_) badge_->setApplicationIconBadgeNumber(0);
  events_.didReceiveRemoteNotification(payload);
}

}  // namespace tavero::host
