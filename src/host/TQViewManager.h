// One web view per page name, created (and loaded) on first request and
// kept for the life of the application.
//
// Thread rules: main thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "host/PageDeviceInformation.h"
#include "host/TQWebView.h"
#include "platform/WebView.h"

namespace tavero::host {

class TQViewManager {
 public:
  // `deviceInformation` is asked afresh each time the globals are defined
  // (the incoming URL in it changes).
  TQViewManager(platform::WebViewHost& host, std::filesystem::path webappPath,
                std::function<PageDeviceInformation()> deviceInformation);

  // The view registered under `page`. A page without a view gets a new one;
  // with `shouldLoad` it starts loading webapp/<page> and has the device
  // information defined; without it stays empty. An existing view is
  // returned as it is, whatever `shouldLoad` says.
  TQWebView& webViewForPage(const std::string& page, bool shouldLoad);
  // A view registered under `page` that loads `url` (the development
  // server's start page) and has the device information defined.
  TQWebView& webViewLoadingURL(const std::string& page, const std::string& url);
  // Views made from now on tell `observer` the page name of each document
  // that goes away from them.
  void setDocumentEndedObserver(TQWebView::DocumentEndedObserver observer) { documentEnded_ = std::move(observer); }

  // The view registered under `page`, or null.
  TQWebView* existingWebView(const std::string& page) const;
  // The view a callback for the page named `name` goes to: the one
  // registered under it, or else the one whose page has it as its last path
  // component ("start.html" for "pages/start.html"); null when there is
  // none (or several could be meant).
  TQWebView* viewForPageName(const std::string& name) const;

  // A view registered under no page (the generated start page's).
  std::unique_ptr<TQWebView> createUnregisteredWebView(const std::string& label);

  // Reloads the document of every registered view (see WebView::reload).
  void reloadAll();

  // Defines the device information again in every registered view.
  void updateApplicationScheme();

  PageDeviceInformation deviceInformation() const { return deviceInformation_(); }
  size_t size() const { return webViews_.size(); }

 private:
  platform::WebViewHost& host_;
  TQWebView& registerView(const std::string& page, const std::optional<std::string>& url);

  std::filesystem::path webappPath_;
  std::function<PageDeviceInformation()> deviceInformation_;
  std::map<std::string, std::unique_ptr<TQWebView>> webViews_;
  TQWebView::DocumentEndedObserver documentEnded_;
};

}  // namespace tavero::host
