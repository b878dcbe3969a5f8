#include "modules/TQDevice.h"

#include "log/Log.h"

namespace tavero::modules {

TQDevice::TQDevice(bridge::CallbackDelivery& callbacks) : callbacks_(callbacks) {
  addOperation("watch", [this](bridge::Invocation& invocation) { watch(invocation); });
}

void TQDevice::watch(bridge::Invocation& invocation) {
  int callback = invocation.integer("callback");
  std::string page = invocation.pageName();
  if (page.empty()) page = "index.html";
  {
    std::lock_guard lock(mutex_);
    watchCallback_ = callback;
    callbackPage_ = page;
  }
  log::debug("watch callback is set for " + page + " page");
  log::debug("watch callback is " + std::to_string(callback));
}

void TQDevice::onDevicePause() { deliver("pause", "onDevicePause"); }
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
