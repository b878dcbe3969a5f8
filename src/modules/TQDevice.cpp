#include "modules/TQDevice.h"

#include <utility>

#include "log/Log.h"

namespace tavero::modules {

TQDevice::TQDevice(bridge::CallbackDelivery& callbacks) : callbacks_(callbacks) {
  addOperation("watch", [this](bridge::Invocation& invocation) { watch(invocation); });
  addOperation("paused", [this](bridge::Invocation& invocation) { paused(invocation); });
}

std::function<void()> TQDevice::takePendingPause() {
  std::lock_guard lock(mutex_);
  return std::exchange(pendingPause_, nullptr);
}

void TQDevice::watch(bridge::Invocation& invocation) {
  int callback = invocation.integer("callback");
  std::string page = invocation.pageName();
  if (page.empty()) page = "index.html";
  // The page that was to report on a pause is replaced: nobody will.
  if (auto previous = takePendingPause()) previous();
  {
    std::lock_guard lock(mutex_);
    watchCallback_ = callback;
    callbackPage_ = page;
    watcherAcknowledges_ = invocation.flag("acknowledgesPause");
    pausesDelivered_ = 0;
  }
  log::debug("watch callback is set for " + page + " page");
  log::debug("watch callback is " + std::to_string(callback));
}

void TQDevice::onDevicePause(std::function<void()> handlersRan) {
  if (auto previous = takePendingPause()) previous();
  bool waitForPage;
  {
    std::lock_guard lock(mutex_);
    waitForPage = watchCallback_ >= 0 && watcherAcknowledges_;
    if (waitForPage) {
      ++pausesDelivered_;
      pendingPause_ = std::move(handlersRan);
    }
  }
  deliver("pause", "onDevicePause");
  if (!waitForPage && handlersRan) handlersRan();
}

void TQDevice::paused(bridge::Invocation& invocation) {
  int64_t pause = invocation.integer("pause");
  std::function<void()> handlersRan;
  {
    std::lock_guard lock(mutex_);
    // A late report of an earlier pause does not end the wait for this one.
    if (pause >= pausesDelivered_) handlersRan = std::exchange(pendingPause_, nullptr);
  }
  log::debug("the page's pause handlers ran (pause " + std::to_string(pause) + ")");
  if (handlersRan) handlersRan();
}
void TQDevice::onDeviceResume() { deliver("resume", "onDeviceResume"); }

void TQDevice::deliver(const char* event, const char* logName) {
  int callback;
  std::string page;
  {
    std::lock_guard lock(mutex_);
    callback = watchCallback_;
    page = callbackPage_;
  }
  if (callback >= 0) callbacks_.invokeCallback(callback, json::Value(event), page);
  log::debug(std::string(logName) + " " + std::to_string(callback));
}

int TQDevice::watchCallback() const {
  std::lock_guard lock(mutex_);
  return watchCallback_;
}

std::string TQDevice::callbackPage() const {
  std::lock_guard lock(mutex_);
  return callbackPage_;
}

}  // namespace tavero::modules
