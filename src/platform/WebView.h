// The web view as the shell uses it, and the window that shows one of them.
//
// Thread rules: main thread only, for every call and every handler.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavero::platform {

class WebView {
 public:
  virtual ~WebView() = default;

  // Starts loading and returns at once.
  virtual void loadFileURL(const std::string& url) = 0;
  virtual void loadHTML(const std::string& html, const std::string& baseURL) = 0;

  // Evaluates `script` in the document now in the view; returns at once.
  // Scripts run in the order they were given. A script evaluated before the
  // first load commits runs in the empty document the view starts with.
  virtual void evaluateScript(const std::string& script) = 0;

  // Replaces the scripts that run at the start of every document this view
  // loads from now on, before the page's own scripts, in this order.
  virtual void setDocumentStartScripts(std::vector<std::string> scripts) = 0;

  // Called after every load that finished successfully (not after a failed
  // one, nor after the error page the view may show for a failed one).
  virtual void setLoadFinishedHandler(std::function<void()> handler) = 0;

  // Called when loading the view's document fails, with its URL and the
  // reason (a load cancelled by a newer one is not a failure).
  using LoadFailedHandler = std::function<void(const std::string& url, const std::string& reason)>;
  virtual void setLoadFailedHandler(LoadFailedHandler handler) = 0;
};

class WebViewHost {
 public:
  virtual ~WebViewHost() = default;

  // A new web view for the page named `pageName` (used to label its console
  // messages). The view loads nothing yet.
  virtual std::unique_ptr<WebView> createWebView(const std::string& pageName) = 0;

  // Creates the window if needed and shows it.
  virtual void showWindow() = 0;
  // Makes `view` the window's content (null: an empty window). The host
  // does not own the view; REQUIRES: it outlives its time as content.
  virtual void setContentView(WebView* view) = 0;
};

}  // namespace tavero::platform
