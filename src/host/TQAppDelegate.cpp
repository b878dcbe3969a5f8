#include "host/TQAppDelegate.h"

#include <filesystem>
#include <system_error>

#include "bridge/QLTaveroBridge.h"
#include "host/TQLocalStoreageFix.h"
#include "log/Log.h"

namespace tavero::host {

TQAppDelegate::TQAppDelegate(platform::MainThread& mainThread, platform::WebViewHost& host, TQEngine& engine,
                             bridge::QLTaveroBridge* bridge, platform::HomeFolders home, TQAppEvents& events)
    : mainThread_(mainThread),
      host_(host), engine_(engine), bridge_(bridge), home_(std::move(home)), events_(events) {}

bool TQAppDelegate::didFinishLaunching() {
  // Linux desktops have no application badge to clear.
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

}  // namespace tavero::host
