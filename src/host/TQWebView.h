// A page's web view: remembers whether its page has finished loading and
// defines the device information globals in it.
//
// Thread rules: main thread, except isLoaded().
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/PageDeviceInformation.h"
#include "platform/WebView.h"

namespace tavero::host {

class TQWebView {
 public:
  using LoadObserver = std::function<void(TQWebView&)>;

  explicit TQWebView(std::unique_ptr<platform::WebView> view);

  // False until the first load finished; then true for good.
  bool isLoaded() const { return isLoaded_.load(); }

  // Why the latest load of the view's document failed, or nothing when it
  // did not. Main thread.
  const std::optional<std::string>& loadFailure() const { return loadFailure_; }

  // Told with the page name of every document that goes away from the view
  // (another one loads, or its process ended).
  using DocumentEndedObserver = std::function<void(const std::string& pageName)>;
  void setDocumentEndedObserver(DocumentEndedObserver observer) { documentEnded_ = std::move(observer); }

  // Told of every finished load, after isLoaded is set.
  void setOriginalDelegate(LoadObserver observer) { originalDelegate_ = std::move(observer); }

  // Defines window.device and its getters. They are defined at the start of
  // every document the view loads from now on (so the page sees them from
  // its first script), and at once in a document that has already loaded.
  void setInformation(const PageDeviceInformation& information);

  // Defines one getter on window.device (onDevice) or on window, in the
  // current document.
  void defineGetter(const std::string& name, const std::string& body, bool onDevice);

  platform::WebView& platformView() { return *view_; }

  // The scripts setInformation defines, in order (values escaped).
  static std::vector<std::string> informationScripts(const PageDeviceInformation& information);
  static std::string getterScript(const std::string& name, const std::string& body, bool onDevice);

 private:
  void webViewDidFinishLoad();
  void webViewDidFailLoad(const std::string& url, const std::string& reason);

  std::unique_ptr<platform::WebView> view_;
  std::atomic<bool> isLoaded_{false};
  LoadObserver originalDelegate_;           // main thread only
  DocumentEndedObserver documentEnded_;     // main thread only
  std::optional<std::string> loadFailure_;  // main thread only
};

}  // namespace tavero::host
