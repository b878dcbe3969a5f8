#include "host/TQAppDelegate.h"

#include <filesystem>
#include <system_error>

#include "bridge/QLTaveroBridge.h"
#include "host/TQLocalStoreageFix.h"
#include "json/Hex.h"
#include "log/Log.h"

namespace tavero::host {

TQAppDelegate::TQAppDelegate(base::MainThread& mainThread, base::MainLoopTimers& timers,
                             platform::WebViewHost& host, TQEngine& engine, bridge::QLTaveroBridge* bridge,
                             platform::HomeFolders home, AppEvents& events, platform::ApplicationBadge* badge)
    : mainThread_(mainThread),
      host_(host),
      engine_(engine),
      bridge_(bridge),
      home_(std::move(home)),
      events_(events),
      badge_(badge),
      pauseDrain_(bridge ? std::make_unique<PauseDrain>(timers, bridge->callsInFlight()) : nullptr) {}

bool TQAppDelegate::didFinishLaunching(const std::function<void()>& whileStartPageLoads) {
  if (badge_) badge_->setApplicationIconBadgeNumber(0);
  TQLocalStoreageFix::restoreLocalStorage(home_);
  liveStorageSeen_ = std::filesystem::exists(TQLocalStoreageFix::liveDatabasePath(home_));
  host_.showWindow();
  engine_.start();
  if (whileStartPageLoads) whileStartPageLoads();
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
  uint64_t pause = ++pauses_;
  if (pauseDrain_) pauseDrain_->start([this] { bridge_->stopServer(); });
  // The pages report from a bridge thread, perhaps after a later pause
  // began or this delegate is gone: only the main thread (which outlives
  // the delegate) is reached from there.
  auto handlersRan = alive_.guard([this, pause] {
    if (pause == pauses_ && pauseDrain_) pauseDrain_->handlersRan();
  });
  events_.onDevicePause([&mainThread = mainThread_, handlersRan] { mainThread.post(handlersRan); });
}

void TQAppDelegate::willEnterForeground() {
  if (pauseDrain_ && pauseDrain_->waiting()) {
    pauseDrain_->cancel();
    log::info("lifecycle: back in the foreground before the bridge stopped; it goes on serving");
  } else if (bridge_) {
    if (auto ec = bridge_->startServer()) log::error("the bridge cannot listen again: " + ec.message());
  }
  events_.onDeviceResume();
}

bool TQAppDelegate::waitForBridgeToStop() {
  if (!pauseDrain_) return true;
  mainThread_.runUntil([this] { return !pauseDrain_->waiting(); }, PauseDrain::kLimit + std::chrono::seconds(1));
  return !bridge_->isServing();
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
