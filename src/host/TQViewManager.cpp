#include "host/TQViewManager.h"

#include "base/MainThread.h"
#include "log/Log.h"
#include "platform/FileURL.h"

namespace tavero::host {

TQViewManager::TQViewManager(platform::WebViewHost& host, std::filesystem::path webappPath,
                             std::function<PageDeviceInformation()> deviceInformation)
    : host_(host),
      webappPath_(std::move(webappPath)),
      deviceInformation_(std::move(deviceInformation)) {}

TQWebView& TQViewManager::webViewForPage(const std::string& page, bool shouldLoad) {
  base::requireMainThread("TQViewManager::webViewForPage");
  if (auto* existing = existingWebView(page)) return *existing;
  if (!shouldLoad) log::debug("views: an empty view was made for page \"" + page + "\", which has none");
  return registerView(page, shouldLoad ? std::optional(platform::fileURLForPath(webappPath_ / page)) : std::nullopt);
}

TQWebView& TQViewManager::webViewLoadingURL(const std::string& page, const std::string& url) {
  base::requireMainThread("TQViewManager::webViewLoadingURL");
  if (auto* existing = existingWebView(page)) return *existing;
  return registerView(page, url);
}

TQWebView& TQViewManager::registerView(const std::string& page, const std::optional<std::string>& url) {
  auto view = std::make_unique<TQWebView>(host_.createWebView(page));
  view->setDocumentEndedObserver(documentEnded_);
  if (url) {
    view->platformView().loadURL(*url);
    view->setInformation(deviceInformation_());
  }
  return *webViews_.emplace(page, std::move(view)).first->second;
}

void TQViewManager::reloadAll() {
  base::requireMainThread("TQViewManager::reloadAll");
  for (auto& [page, view] : webViews_) view->platformView().reload();
}

TQWebView* TQViewManager::existingWebView(const std::string& page) const {
  auto it = webViews_.find(page);
  return it == webViews_.end() ? nullptr : it->second.get();
}

TQWebView* TQViewManager::viewForPageName(const std::string& name) const {
  if (auto* exact = existingWebView(name)) return exact;
  TQWebView* found = nullptr;
  for (const auto& [page, view] : webViews_) {
    size_t slash = page.rfind('/');
    if (slash == std::string::npos || page.compare(slash + 1, std::string::npos, name) != 0) continue;
    if (found) return nullptr;  // two pages of that name in different folders
    found = view.get();
  }
  return found;
}

std::unique_ptr<TQWebView> TQViewManager::createUnregisteredWebView(const std::string& label) {
  base::requireMainThread("TQViewManager::createUnregisteredWebView");
  auto view = std::make_unique<TQWebView>(host_.createWebView(label));
  view->setDocumentEndedObserver(documentEnded_);
  return view;
}

void TQViewManager::updateApplicationScheme() {
  base::requireMainThread("TQViewManager::updateApplicationScheme");
  PageDeviceInformation information = deviceInformation_();
  for (auto& [page, view] : webViews_) view->setInformation(information);
}

}  // namespace tavero::host
