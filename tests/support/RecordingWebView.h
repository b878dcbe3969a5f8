// A web view that renders nothing and records what it was asked to do, for
// tests of the code that drives web views. finishLoad() plays the part of
// the engine finishing a load.
#pragma once

#include <string>
#include <vector>

#include "platform/WebView.h"

namespace tavero::testing {

class RecordingWebView : public platform::WebView {
 public:
  explicit RecordingWebView(std::string pageName) : pageName_(std::move(pageName)) {}

  void loadURL(const std::string& url) override { loads.push_back(url); }
  void loadHTML(const std::string& html, const std::string& baseURL) override {
    loadedHTML = html;
    loads.push_back(baseURL);
  }
  // Ends the latest loaded document, as the real view does, and counts.
  void reload() override {
    if (loads.empty()) return;
    ++reloads;
    endDocument(loads.back());
  }
  void evaluateScript(const std::string& script) override { evaluatedScripts.push_back(script); }
  void setDocumentStartScripts(std::vector<std::string> scripts) override {
    documentStartScripts = std::move(scripts);
  }
  void setLoadFinishedHandler(std::function<void()> handler) override { onLoadFinished_ = std::move(handler); }

  void setLoadFailedHandler(LoadFailedHandler handler) override { onLoadFailed_ = std::move(handler); }
  void setDocumentEndedHandler(DocumentEndedHandler handler) override { onDocumentEnded_ = std::move(handler); }

  // Evaluations for a result and snapshots wait here until the test
  // answers them (pendingEvaluations.front().done(...)).
  void evaluateForResult(const std::string& script, platform::ScriptLimits limits,
                         std::function<void(platform::ScriptResult)> done) override {
    pendingEvaluations.push_back({script, limits, std::move(done)});
  }
  void snapshot(std::function<void(platform::Snapshot)> done) override { pendingSnapshots.push_back(std::move(done)); }

  // Reports a finished load to the handler.
  void finishLoad() {
    if (onLoadFinished_) onLoadFinished_();
  }
  // Reports a failed load to the handler.
  void failLoad(const std::string& url, const std::string& reason) {
    if (onLoadFailed_) onLoadFailed_(url, reason);
  }
  // Reports that the document at `url` went away.
  void endDocument(const std::string& url) {
    if (onDocumentEnded_) onDocumentEnded_(url);
  }
  const std::string& pageName() const { return pageName_; }

  std::vector<std::string> loads;  // URLs, and base URLs of HTML texts
  int reloads = 0;
  std::string loadedHTML;
  std::vector<std::string> evaluatedScripts;
  std::vector<std::string> documentStartScripts;
  struct PendingEvaluation {
    std::string script;
    platform::ScriptLimits limits;
    std::function<void(platform::ScriptResult)> done;
  };
  std::vector<PendingEvaluation> pendingEvaluations;
  std::vector<std::function<void(platform::Snapshot)>> pendingSnapshots;

 private:
  std::string pageName_;
  std::function<void()> onLoadFinished_;
  LoadFailedHandler onLoadFailed_;
  DocumentEndedHandler onDocumentEnded_;
};

// Creates RecordingWebViews and remembers them, and what the window shows.
class RecordingWebViewHost : public platform::WebViewHost {
 public:
  std::unique_ptr<platform::WebView> createWebView(const std::string& pageName) override {
    auto view = std::make_unique<RecordingWebView>(pageName);
    created.push_back(view.get());
    return view;
  }
  void showWindow() override { windowShown = true; }
  void setContentView(platform::WebView* view) override { contentView = view; }
  void setBundleDocuments(platform::BundleDocuments documents) override { bundleDocuments = std::move(documents); }
  void setPageMessageHandler(platform::PageMessageHandler handler) override { messageHandler = std::move(handler); }

  std::vector<RecordingWebView*> created;  // not owned
  bool windowShown = false;
  platform::WebView* contentView = nullptr;
  platform::BundleDocuments bundleDocuments;
  platform::PageMessageHandler messageHandler;
};

}  // namespace tavero::testing
