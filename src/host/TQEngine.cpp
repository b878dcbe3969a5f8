#include "host/TQEngine.h"

#include <filesystem>

#include "base/MainThread.h"
#include "bridge/Invocation.h"
#include "bridge/QLTaveroBridge.h"
#include "host/CallbackScript.h"
#include "log/Log.h"

namespace tavero::host {

TQEngine::TQEngine(base::MainThread& mainThread, platform::WebViewHost& host, TQViewManager& views,
                   platform::BundleInfo bundle)
    : mainThread_(mainThread), host_(host), views_(views), bundle_(std::move(bundle)) {}

void TQEngine::start() {
  base::requireMainThread("TQEngine::start");
  firstPhase();
  loadRequiredEngine();
}

void TQEngine::firstPhase() {
  if (isEngineWorking_) return;
  if (bridge_) {
    if (auto ec = bridge_->startServer()) log::error("engine: the bridge cannot listen: " + ec.message());
  }
  isEngineWorking_ = true;
}

void TQEngine::loadRequiredEngine() {
  viewControllers_.clear();
  const std::filesystem::path webapp = bundle_.webappPath();
  const std::string page = bundle_.indexPage.value_or("index.html");
  if (developmentServer_) {
    log::info("launch: the start page comes from the development server " + *developmentServer_ +
              " (--dev-server), not from webapp/");
    loadFromDevelopmentServer();
  } else if (std::filesystem::exists(webapp / "app.json")) {
    log::info("launch: webapp/app.json is there, so the start page is webapp/" + page +
              (bundle_.indexPage ? " (Info.plist IndexPage)" : " (the default; Info.plist IndexPage names another)"));
    loadPackagedApp();
  } else {
    log::info("launch: there is no webapp/app.json in " + bundle_.path.string() +
              ", so a generated page loads webapp/core.min.js and webapp/app.js (with webapp/app.json, webapp/" +
              page + " would be the start page)");
    logMissingScriptsOfGeneratedPage();
    loadWebAppEngine();
  }
}

void TQEngine::logMissingScriptsOfGeneratedPage() const {
  const std::filesystem::path webapp = bundle_.webappPath();
  bool anyMissing = false;
  for (const char* script : {"core.min.js", "app.js"}) {
    if (std::filesystem::exists(webapp / script)) continue;
    anyMissing = true;
    log::warning("launch: webapp/" + std::string(script) + " is missing; the generated page loads it");
  }
  const std::string page = bundle_.indexPage.value_or("index.html");
  if (anyMissing && std::filesystem::exists(webapp / page)) {
    log::warning("launch: webapp/" + page + " is not used: add webapp/app.json to make it the start page");
  }
}

void TQEngine::loadPackagedApp() {
  indexPage_ = bundle_.indexPage;
  std::string page = indexPage_.value_or("index.html");
  webEngineView_ = &views_.webViewForPage(page, true);
  auto controller = std::make_unique<TQViewController>(bundle_.supportedOrientations);
  controller->setView(webEngineView_);
  viewControllers_[page] = controller.get();
  setActiveViewController(std::move(controller));
  log::info("Packager engine started");
}

void TQEngine::loadFromDevelopmentServer() {
  // Named as callbacks name the page: by the last part of its address.
  const std::string page = bridge::Invocation::pageNameOf(*developmentServer_);
  webEngineView_ = &views_.webViewLoadingURL(page, *developmentServer_);
  auto controller = std::make_unique<TQViewController>(bundle_.supportedOrientations);
  controller->setView(webEngineView_);
  viewControllers_[page] = controller.get();
  setActiveViewController(std::move(controller));
}

std::string TQEngine::generatedPageBaseURL(const std::string& bundlePath) {
  std::string path;
  for (char c : bundlePath) path += c == '/' ? std::string("//") : std::string(1, c);
  std::string escaped;
  for (char c : path) escaped += c == ' ' ? std::string("%20") : std::string(1, c);
  return "file:/" + escaped + "/webapp//";
}

void TQEngine::loadWebAppEngine() {
  if (bridge_) {
    if (auto ec = bridge_->startServer()) log::error("engine: the bridge cannot listen: " + ec.message());
  }
  isEngineWorking_ = true;
  webAppEngine_ = views_.createUnregisteredWebView("app.js");
  webAppEngine_->platformView().loadHTML(kGeneratedStartPage, generatedPageBaseURL(bundle_.path.string()));
  webAppEngine_->setInformation(views_.deviceInformation());
  // The generated page is the start page in this mode: it is shown, the
  // launch waits for it, and deliveries that name no page go to it.
  webEngineView_ = webAppEngine_.get();
  auto controller = std::make_unique<TQViewController>(bundle_.supportedOrientations);
  controller->setView(webEngineView_);
  setActiveViewController(std::move(controller));
  log::info("WebApp engine Loaded");
}

std::string TQEngine::startPageDescription() const {
  if (developmentServer_) return "of the development server " + *developmentServer_;
  if (webAppEngine_) return "the generated start page (webapp/core.min.js and webapp/app.js)";
  return "\"" + (bundle_.webappPath() / indexPage_.value_or("index.html")).string() + "\"";
}

void TQEngine::reportStartPageFailure(const std::string& failure) const {
  std::string hint;
  if (developmentServer_) {
    hint = " (is the development server running?)";
  } else if (!webAppEngine_) {
    std::filesystem::path file = bundle_.webappPath() / indexPage_.value_or("index.html");
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
      hint = indexPage_ ? " (there is no such file; Info.plist IndexPage names it)"
                        : " (there is no such file; Info.plist IndexPage can name another start page)";
    }
  }
  log::error("launch: the start page " + startPageDescription() + " could not be loaded" + hint + ": " + failure);
}

bool TQEngine::waitForWebViewToLoad(std::chrono::milliseconds limit) {
  base::requireMainThread("TQEngine::waitForWebViewToLoad");
  // The loop is served until the load has ended one way or the other, and
  // not a moment longer: the page is shown and usable as soon as it has
  // loaded.
  auto settled = [this] {
    return (webEngineView_ && (webEngineView_->isLoaded() || webEngineView_->loadFailure())) ||
           launchWaitAbandoned_;
  };
  auto end = [this](StartPageLoad state) {
    startPageLoad_ = state;
    return state == StartPageLoad::Loaded;
  };
  mainThread_.runUntil(settled, limit);
  if (webEngineView_ && webEngineView_->isLoaded()) return end(StartPageLoad::Loaded);
  if (webEngineView_ && webEngineView_->loadFailure()) {
    reportStartPageFailure(*webEngineView_->loadFailure());
    return end(StartPageLoad::Failed);
  }
  if (launchWaitAbandoned_) return end(StartPageLoad::Abandoned);
  log::warning("launch: the start page " + startPageDescription() + " has not finished loading after " +
               std::to_string(std::chrono::duration_cast<std::chrono::seconds>(limit).count()) +
               " s; going on without it");
  return end(StartPageLoad::TimedOut);
}

void TQEngine::stop() {
  base::requireMainThread("TQEngine::stop");
  if (!isEngineWorking_) return;
  if (bridge_) bridge_->stopServer();
  isEngineWorking_ = false;
}

void TQEngine::setActiveViewController(std::unique_ptr<TQViewController> controller) {
  base::requireMainThread("TQEngine::setActiveViewController");
  activeViewController_ = std::move(controller);
  TQWebView* view = activeViewController_ ? activeViewController_->view() : nullptr;
  host_.setContentView(view ? &view->platformView() : nullptr);
}

void TQEngine::invokeCallback(int callbackId, const std::optional<json::Value>& value, std::string_view page) {
  // A call that asked for its answer in its message's reply gets it there:
  // no script to form and evaluate.
  if (bridge_ && bridge_->callbackReplies().take(callbackId, value)) return;
  // The view registry belongs to the main thread, so the view is looked up
  // there too; the caller only formats the script and queues it.
  mainThread_.post(alive_.guard([this, page = std::string(page), script = callbackScript(callbackId, value),
                                 generation = documentGeneration_.load()] { deliver(page, script, generation); }));
}

void TQEngine::reloadPages() {
  base::requireMainThread("TQEngine::reloadPages");
  views_.reloadAll();
  if (webAppEngine_) webAppEngine_->platformView().reload();
  // After the documents ended: a watch or a request still answering the
  // old documents has had its callback counted before this.
  documentGeneration_.fetch_add(1);
}

TQWebView* TQEngine::viewForDelivery(const std::string& page) const {
  if (page.empty()) return webEngineView_;
  // A page name without a view of its own gets no new, empty view: nobody
  // would ever see what it receives, and a caller could make any number.
  if (TQWebView* view = views_.viewForPageName(page)) return view;
  // A development server's app names its page by its route ("/settings"
  // reads "settings"), which changes without a new view.
  return developmentServer_ ? webEngineView_ : nullptr;
}

void TQEngine::deliver(const std::string& page, const std::string& script, uint64_t generation) {
  base::requireMainThread("TQEngine::deliver");
  if (generation != documentGeneration_.load()) {
    log::debug("engine: a callback for a document that was reloaded since; dropped");
    return;
  }
  if (page.empty() && !webEngineView_) {
    log::warning("engine: a callback arrived before there is a start page; dropped");
    return;
  }
  TQWebView* view = viewForDelivery(page);
  if (!view) {
    log::debug("engine: a callback for page \"" + page + "\", which has no view; dropped");
    return;
  }
  view->platformView().evaluateScript(script);
}

}  // namespace tavero::host
