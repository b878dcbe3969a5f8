#include "modules/TQOpenURL.h"

#include "log/Log.h"
#include "log/RefusalLog.h"
#include "modules/URLOpeningPolicy.h"

namespace tavero::modules {

TQOpenURL::TQOpenURL(bridge::CallbackDelivery* callbacks, platform::URLOpener* opener,
                     std::function<void()> updateApplicationScheme)
    : callbacks_(callbacks), opener_(opener), updateApplicationScheme_(std::move(updateApplicationScheme)) {
  addOperation("open", [this](bridge::Invocation& invocation) { open(invocation); });
  addOperation("watch", [this](bridge::Invocation& invocation) { watch(invocation); });
}

void TQOpenURL::open(bridge::Invocation& invocation) {
  std::string url(invocation.text("url"));
  URLOpeningVerdict verdict = urlOpeningVerdict(url);
  if (!verdict.allowed) {
    log::refusal("url: a page asked to open \"" + url.substr(0, 200) + "\"; refused: " + verdict.reason);
    return;
  }
  if (!opener_) {
    log::warning("url: this shell cannot open URLs; " + url + " was not opened");
    return;
  }
  opener_->openURL(url);
}

void TQOpenURL::watch(bridge::Invocation& invocation) {
  int callback = invocation.integer("callback");
  std::optional<std::string> page;
  if (invocation.arguments().contains("__source")) page = invocation.pageName();
  std::lock_guard lock(mutex_);
  callback_ = callback;
  callbackPage_ = std::move(page);
}

json::Value TQOpenURL::recordValue(const host::IncomingURLRecord& record) {
  json::Object value;
  value.append("url", record.url);
  value.append("sourceApplication", record.sourceApplication);
  return json::Value(std::move(value));
}

void TQOpenURL::openURL(const std::string& url, const std::string& sourceApplication) {
  host::IncomingURLRecord record{url, sourceApplication};
  setScheme(record);
  log::info("url: the app was opened with " + url +
            (sourceApplication.empty() ? std::string() : " by " + sourceApplication));
  if (updateApplicationScheme_) updateApplicationScheme_();
  int callback;
  std::optional<std::string> page;
  {
    std::lock_guard lock(mutex_);
    callback = callback_;
    page = callbackPage_;
  }
  // Id 0 is what a watch without a callback leaves: nobody to call.
  if (callback >= 1 && callbacks_) callbacks_->invokeCallback(callback, recordValue(record), page.value_or(""));
}

std::optional<host::IncomingURLRecord> TQOpenURL::scheme() const {
  std::lock_guard lock(mutex_);
  return scheme_;
}

void TQOpenURL::setScheme(host::IncomingURLRecord record) {
  std::lock_guard lock(mutex_);
  scheme_ = std::move(record);
}

}  // namespace tavero::modules
