// Turns the application's launch and lifecycle into calls on the engine,
// the bridge, the local storage backup and the event modules, in a fixed
// order: the platform (window, control interface, push service) calls it.
//
// Thread rules: main thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/AliveToken.h"
#include "base/MainLoopTimers.h"
#include "base/MainThread.h"
#include "host/AppEvents.h"
#include "host/PauseDrain.h"
#include "host/TQEngine.h"
#include "platform/ApplicationBadge.h"
#include "platform/HomeFolders.h"
#include "platform/PushService.h"
#include "platform/WebView.h"

namespace tavero::bridge {
class QLTaveroBridge;
}

namespace tavero::host {

class TQAppDelegate : public platform::PushServiceDelegate {
 public:
  // The web view commits what pages put in local storage up to half a
  // second after they wrote it; termination waits this long before the
  // backup so that the last writes are in it.
  static constexpr std::chrono::milliseconds kLocalStorageCommitDelay{700};

  // `badge` may be null (no icon badge to clear).
  TQAppDelegate(base::MainThread& mainThread, base::MainLoopTimers& timers, platform::WebViewHost& host,
                TQEngine& engine, bridge::QLTaveroBridge* bridge, platform::HomeFolders home, AppEvents& events,
                platform::ApplicationBadge* badge = nullptr);

  // Clears the badge, restores the local storage (before any web view
  // exists), shows the window, starts the engine and waits for the start
  // page. Returns whether the start page loaded within the launch wait.
  // `whileStartPageLoads` runs once the start page's load has started: what
  // the page does not need goes there, off the launch's critical path, while
  // WebKit starts its web process.
  bool didFinishLaunching(const std::function<void()>& whileStartPageLoads = {});

  void willResignActive();       // backs up the local storage
  // Tells pages "pause"; the bridge stops once their pause handlers and
  // the calls they made are done (PauseDrain), at most PauseDrain::kLimit
  // later. Returns at once.
  void didEnterBackground();
  // Opens the bridge again (or, when it has not stopped yet, lets it go on
  // serving), then tells pages "resume".
  void willEnterForeground();
  void didBecomeActive() {}
  void willTerminate();          // lets the web view commit, then backs up the local storage

  // Another application opened this one with `url`. Always handled (true),
  // whether or not a page watches URLs.
  bool openURL(const std::string& url, const std::string& sourceApplication);

  // Push outcomes: the token is passed on as its text (tokenText); a
  // notification clears the badge before the pages hear of it.
  void didRegisterForRemoteNotificationsWithDeviceToken(const std::vector<uint8_t>& token) override;
  void didFailToRegisterForRemoteNotificationsWithError(const std::string& message) override;
  void didReceiveRemoteNotification(const json::Object& payload) override;

  // Serves the main loop until the bridge has stopped after "pause", or the
  // app came back first. True when the bridge is stopped.
  bool waitForBridgeToStop();
  // How long the last stop after "pause" waited for the pages.
  std::optional<std::chrono::milliseconds> lastPauseWait() const {
    return pauseDrain_ ? pauseDrain_->lastWait() : std::nullopt;
  }

  // The last token text received; absent until registering succeeded.
  const std::optional<std::string>& token() const { return token_; }

  // A push device token as text: its bytes in lower-case hexadecimal, two
  // digits each, nothing between them (0x0A 0xBC -> "0abc").
  static std::string tokenText(const std::vector<uint8_t>& token);

 private:
  base::MainThread& mainThread_;
  platform::WebViewHost& host_;
  TQEngine& engine_;
  bridge::QLTaveroBridge* bridge_;
  platform::HomeFolders home_;
  AppEvents& events_;
  platform::ApplicationBadge* badge_;
  std::optional<std::string> token_;
  // Whether a live local storage database existed at some point of this
  // run. The web view deletes the database when a page empties its
  // storage; the backup must then go too, or the cleared data would come
  // back at the next launch. Without this knowledge (say the restore
  // failed) a missing database says nothing, and the backup is kept.
  bool liveStorageSeen_ = false;

  // Null without a bridge.
  std::unique_ptr<PauseDrain> pauseDrain_;
  uint64_t pauses_ = 0;  // the number of the last pause: late reports of earlier ones are ignored
  base::AliveToken alive_;

  void preserveLocalStorage();
};

}  // namespace tavero::host
