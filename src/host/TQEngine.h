// Brings the web application up and carries later answers back to it.
//
// start() starts the bridge, loads the start page into its web view (or,
// for a bundle without webapp/app.json, a generated page that pulls in
// core.min.js and app.js) and shows it; waitForWebViewToLoad() holds the
// launch until that page has loaded. invokeCallback() turns a module's
// answer into the callback script and evaluates it in the right page.
//
// Thread rules: main thread, except invokeCallback() (any thread).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "base/AliveToken.h"
#include "base/MainThread.h"
#include "bridge/CallbackDelivery.h"
#include "host/TQViewController.h"
#include "host/TQViewManager.h"
#include "host/TQWebView.h"
#include "platform/Bundle.h"
#include "platform/WebView.h"

namespace tavero::bridge {
class QLTaveroBridge;
}

namespace tavero::host {

class TQEngine : public bridge::CallbackDelivery {
 public:
  // How the launch wait for the start page ended.
  enum class StartPageLoad {
    Waiting,    // no wait has ended yet
    Loaded,
    Failed,     // the page could not be loaded (the view shows an error page)
    TimedOut,   // not loaded within the wait's limit
    Abandoned,  // abandonLaunchWait() was called (the shell is stopping)
  };

  static constexpr std::chrono::seconds kLaunchWaitLimit{30};
  static constexpr const char* kGeneratedStartPage =
      "<html manifest=\"\" lang=\"en-US\"><head><meta charset=\"UTF-8\"><script type=\"text/javascript\" "
      "src=\"core.min.js\"></script><script type=\"text/javascript\" src=\"app.js\"></script></head><body>"
      "</body></html>";

  TQEngine(base::MainThread& mainThread, platform::WebViewHost& host, TQViewManager& views,
           platform::BundleInfo bundle);

  // The bridge the engine starts; null runs without one (tests).
  void setBridge(bridge::QLTaveroBridge* bridge) { bridge_ = bridge; }
  // Loads the start page from this development server address instead of
  // webapp/ (set before start; the caller has checked the address).
  void setDevelopmentServer(std::string url) { developmentServer_ = std::move(url); }

  // Reloads every page of the app (live reload while developing). Each
  // view's document ends first, so modules end what it had open
  // (transactions, watches), and callbacks meant for the old documents are
  // dropped rather than delivered into the new ones.
  void reloadPages();

  void start();
  void firstPhase();
  void loadRequiredEngine();
  // Returns true once the start page view has loaded. Returns false when
  // its load fails, after `limit`, or when abandoned, with a log line naming
  // the page file for the first two; startPageLoad() tells which.
  bool waitForWebViewToLoad(std::chrono::milliseconds limit = kLaunchWaitLimit);
  // Ends a launch wait in progress (or the next one) without the page.
  void abandonLaunchWait() { launchWaitAbandoned_ = true; }
  StartPageLoad startPageLoad() const { return startPageLoad_; }
  void stop();

  // Delivers "Kio.device.Communicator.invoke('<id>', [<value>])" to the
  // page named `page`, or to the start page view without a name. Queues the
  // evaluation on the main thread and returns at once.
  void invokeCallback(int callbackId, const std::optional<json::Value>& value,
                      std::string_view page = {}) override;

  TQViewController* activeViewController() const { return activeViewController_.get(); }
  void setActiveViewController(std::unique_ptr<TQViewController> controller);

  TQWebView* webEngineView() const { return webEngineView_; }    // the start page view
  TQWebView* webAppEngine() const { return webAppEngine_.get(); }  // web-app-engine mode's view
  const std::optional<std::string>& indexPage() const { return indexPage_; }
  const std::map<std::string, TQViewController*>& viewControllers() const { return viewControllers_; }
  bool isEngineWorking() const { return isEngineWorking_; }

  // The base URL of the generated start page for a bundle at `bundlePath`.
  static std::string generatedPageBaseURL(const std::string& bundlePath);

 private:
  void loadPackagedApp();
  void loadWebAppEngine();
  void loadFromDevelopmentServer();
  void logMissingScriptsOfGeneratedPage() const;
  std::string startPageDescription() const;
  void reportStartPageFailure(const std::string& failure) const;
  void deliver(const std::string& page, const std::string& script, uint64_t generation);
  TQWebView* viewForDelivery(const std::string& page) const;

  base::MainThread& mainThread_;
  platform::WebViewHost& host_;
  TQViewManager& views_;
  platform::BundleInfo bundle_;
  bridge::QLTaveroBridge* bridge_ = nullptr;

  // Deliveries queued on the main thread check this, so one that runs after
  // the engine is gone does nothing.
  base::AliveToken alive_;
  // Counts reloads: a callback carries the count of its time and is
  // dropped when a reload came between (any thread reads it).
  std::atomic<uint64_t> documentGeneration_{0};
  std::optional<std::string> developmentServer_;
  bool isEngineWorking_ = false;
  bool launchWaitAbandoned_ = false;
  StartPageLoad startPageLoad_ = StartPageLoad::Waiting;
  std::optional<std::string> indexPage_;
  TQWebView* webEngineView_ = nullptr;  // owned by views_ or webAppEngine_
  std::unique_ptr<TQWebView> webAppEngine_;
  std::unique_ptr<TQViewController> activeViewController_;
  std::map<std::string, TQViewController*> viewControllers_;  // the start page's controller, by page
};

}  // namespace tavero::host
