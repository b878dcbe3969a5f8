// A WebView on WebKitGTK: one WebKitWebView with its own user content
// manager, so each page gets its own document-start scripts. The page's
// console messages go to the log, labelled with the page name.
//
// Thread rules: main thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/WebView.h"

typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _WebKitUserContentManager WebKitUserContentManager;
typedef struct _GtkWidget GtkWidget;
typedef struct _GError GError;

namespace tavero::platform {

class WebKitPageView : public WebView {
 public:
  WebKitPageView(WebKitWebContext* context, std::string pageName);
  ~WebKitPageView() override;

  void loadFileURL(const std::string& url) override;
  void loadHTML(const std::string& html, const std::string& baseURL) override;
  void evaluateScript(const std::string& script) override;
  void setDocumentStartScripts(std::vector<std::string> scripts) override;
  void setLoadFinishedHandler(std::function<void()> handler) override { onLoadFinished_ = std::move(handler); }
  void setLoadFailedHandler(LoadFailedHandler handler) override { onLoadFailed_ = std::move(handler); }

  GtkWidget* widget() const;
  WebKitWebView* webView() const { return view_; }
  const std::string& pageName() const { return pageName_; }

 private:
  void installScripts();
  void loadChanged(int event);
  void loadFailed(const char* uri, const GError* error);
  void webProcessTerminated(int reason);
  void consoleMessage(const std::string& text);

  std::string pageName_;
  WebKitUserContentManager* contentManager_;
  WebKitWebView* view_;  // a reference of our own: the view outlives its time in the window
  std::vector<std::string> documentStartScripts_;
  std::function<void()> onLoadFinished_;
  LoadFailedHandler onLoadFailed_;
  bool currentLoadFailed_ = false;
  std::string failedURI_;          // the URL of the load that just failed
  bool showingErrorPage_ = false;  // the current load is the error page for failedURI_
};

}  // namespace tavero::platform
