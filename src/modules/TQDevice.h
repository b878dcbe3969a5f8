// Pause and resume for the page: a page watches, and hears "pause" when the
// app goes to the background and "resume" when it comes back. A page that
// watches with "acknowledgesPause" reports, with "paused" and the number of
// the pause (counted from 1 since it watched), that its pause handlers
// have run; the app waits for that before it stops the bridge.
//
// Thread rules: watch() and paused() on bridge threads;
// onDevicePause/onDeviceResume on the main thread (the application
// delegate). State is guarded; `handlersRan` is called on either.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "bridge/CallbackDelivery.h"
#include "bridge/TQW3CAction.h"

namespace tavero::modules {

class TQDevice : public bridge::TQW3CAction {
 public:
  static constexpr std::string_view className = "TQDevice";
  static constexpr int kNoWatcher = -1;

  explicit TQDevice(bridge::CallbackDelivery& callbacks);

  // Keeps `callback` (0 when absent: a callback of its own) and the calling
  // page; a later watch replaces both.
  void watch(bridge::Invocation& invocation);

  // Delivers "pause" / "resume" to the watching page; nothing before the
  // first watch. `handlersRan` is called once the watching page reported
  // that its pause handlers ran, or at once when no page watches with
  // acknowledgements. A later pause or watch calls the previous one first.
  void onDevicePause(std::function<void()> handlersRan = {});
  void onDeviceResume();

  // The page's report that its handlers of pause number "pause" ran.
  void paused(bridge::Invocation& invocation);

  int watchCallback() const;
  std::string callbackPage() const;

 private:
  void deliver(const char* event, const char* logName);

  bridge::CallbackDelivery& callbacks_;
  // The pending `handlersRan` of the last pause, handed out for calling
  // (outside the lock) when it is due.
  std::function<void()> takePendingPause();

  mutable std::mutex mutex_;  // guards every field below
  int watchCallback_ = kNoWatcher;
  std::string callbackPage_ = "index.html";
  bool watcherAcknowledges_ = false;
  int64_t pausesDelivered_ = 0;  // since the current watch
  std::function<void()> pendingPause_;
};

}  // namespace tavero::modules
