// Pause and resume for the page: a page watches, and hears "pause" when the
// app goes to the background and "resume" when it comes back.
//
// Thread rules: watch() on bridge threads; onDevicePause/onDeviceResume on
// the main thread (the application delegate). State is guarded.
#pragma once

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
  // first watch.
  void onDevicePause();
  void onDeviceResume();

  int watchCallback() const;
  std::string callbackPage() const;

 private:
  void deliver(const char* event, const char* logName);

  bridge::CallbackDelivery& callbacks_;
  mutable std::mutex mutex_;  // guards watchCallback_ and callbackPage_
  int watchCallback_ = kNoWatcher;
  std::string callbackPage_ = "index.html";
};

}  // namespace tavero::modules
