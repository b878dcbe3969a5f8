#include "host/TQAppDelegate.h"

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
  host_.showWindow();
  engine_.start();
  return engine_.waitForWebViewToLoad();
}

void TQAppDelegate::willResignActive() { TQLocalStoreageFix::preserveLocalStorage(home_); }

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
  TQLocalStoreageFix::preserveLocalStorage(home_);
}

}  // namespace tavero::host
