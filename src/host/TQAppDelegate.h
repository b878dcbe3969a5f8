// Turns the application's launch and lifecycle into calls on the engine,
// the bridge, the local storage backup and the event modules, in a fixed
// order: the platform (window, control interface, push service) calls it.
//
// Thread rules: main thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/MainThread.h"
#include "host/AppEvents.h"
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
  TQAppDelegate(base::MainThread& mainThread, platform::WebViewHost& host, TQEngine& engine,
                bridge::QLTaveroBridge* bridge, platform::HomeFolders home, AppEvents& events,
                platform::ApplicationBadge* badge = nullptr);

  // Clears the badge, restores the local storage (before any web view
  // exists), shows the window, starts the engine and waits for the start
  // page. Returns whether the start page loaded within the launch wait.
  bool didFinishLaunching();

  void willResignActive();       // backs up the local storage
  void didEnterBackground();     // tells pages "pause", then closes the bridge
  void willEnterForeground();    // opens the bridge, then tells pages "resume"
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

  void preserveLocalStorage();
};

}  // namespace tavero::host
