// The URL module. Pages open URLs in other applications (`open`) and watch
// the URLs through which other applications open this one (`watch`). It
// keeps the record of the URL that last opened the application (pages see
// it as device.scheme).
//
// Thread rules: open() and watch() on bridge threads; openURL() on the main
// thread (the application delegate); scheme() from any thread.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/CallbackDelivery.h"
#include "bridge/TQW3CAction.h"
#include "host/PageDeviceInformation.h"
#include "platform/URLOpener.h"

namespace tavero::modules {

class TQOpenURL : public bridge::TQW3CAction {
 public:
  static constexpr std::string_view className = "TQOpenURL";

  // `callbacks` and `opener` may be null (then incoming URLs are only
  // recorded, and nothing is opened); `updateApplicationScheme` redefines
  // the device information in every page (may be empty). Pointers must
  // outlive the module.
  TQOpenURL(bridge::CallbackDelivery* callbacks, platform::URLOpener* opener,
            std::function<void()> updateApplicationScheme);
  TQOpenURL() : TQOpenURL(nullptr, nullptr, {}) {}

  // Opens the "url" argument with the device, if pages may open it (see
  // URLOpeningPolicy.h); a refusal is logged. Nothing is reported.
  void open(bridge::Invocation& invocation);
  // Keeps "callback" and the calling page for incoming URLs.
  void watch(bridge::Invocation& invocation);

  // Another application opened this one with `url`: records it, defines it
  // as device.scheme in every page and tells the watching page. An absent
  // source application is recorded as "".
  void openURL(const std::string& url, const std::string& sourceApplication);

  // Absent until the first incoming URL; then always the latest one.
  std::optional<host::IncomingURLRecord> scheme() const;
  void setScheme(host::IncomingURLRecord record);

  static json::Value recordValue(const host::IncomingURLRecord& record);

 private:
  bridge::CallbackDelivery* callbacks_;
  platform::URLOpener* opener_;
  std::function<void()> updateApplicationScheme_;

  mutable std::mutex mutex_;  // guards scheme_, callback_ and callbackPage_
  std::optional<host::IncomingURLRecord> scheme_;
  int callback_ = 0;
  std::optional<std::string> callbackPage_;
};

}  // namespace tavero::modules
