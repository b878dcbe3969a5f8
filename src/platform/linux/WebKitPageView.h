// A WebView on WebKitGTK: one WebKitWebView with its own user content
// manager, so each page gets its own document-start scripts. The page's
// console messages go to the log, labelled with the page name. The bundle's
// scripts, the page globals and every script the shell evaluates later
// (callbacks) run only in the bundle's own documents; the
// shell's message channel is open in the view; loads wait for the content
// rules.
//
// Thread rules: main thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/AliveToken.h"
#include "platform/linux/ContentFilterGate.h"
#include "platform/linux/PageChannel.h"
#include "platform/WebView.h"

typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _WebKitUserContentManager WebKitUserContentManager;
typedef struct _GtkWidget GtkWidget;
typedef struct _GError GError;
typedef struct _WebKitPolicyDecision WebKitPolicyDecision;

namespace tavero::platform {

class WebKitPageView : public WebView {
 public:
  struct Setup {
    WebKitWebContext* context = nullptr;
    std::string pageName;
    std::shared_ptr<const BundleDocuments> bundle;  // may be null: no bundle rules
    std::shared_ptr<ContentFilterGate> filterGate;  // may be null: nothing to wait for
    PageChannel::Receiver onMessage;                // may be empty: no channel
    bool controlledByAutomation = false;            // a WebDriver session may drive the view
    bool scriptsThroughExtension = false;           // the web processes load the shell's extension
  };

  explicit WebKitPageView(Setup setup);
  ~WebKitPageView() override;

  void loadURL(const std::string& url) override;
  void loadHTML(const std::string& html, const std::string& baseURL) override;
  void reload() override;
  void evaluateScript(const std::string& script) override;
  void setDocumentStartScripts(std::vector<std::string> scripts) override;
  void setLoadFinishedHandler(std::function<void()> handler) override { onLoadFinished_ = std::move(handler); }
  void setLoadFailedHandler(LoadFailedHandler handler) override { onLoadFailed_ = std::move(handler); }
  void setDocumentEndedHandler(DocumentEndedHandler handler) override { onDocumentEnded_ = std::move(handler); }
  void evaluateForResult(const std::string& script, ScriptLimits limits,
                         std::function<void(ScriptResult)> done) override;
  void snapshot(std::function<void(Snapshot)> done) override;

  GtkWidget* widget() const;
  WebKitWebView* webView() const { return view_; }
  const std::string& pageName() const { return pageName_; }

 private:
  void installScripts();
  void addBundleScript(const std::string& source, bool allFrames);
  void applyContentFilter(WebKitUserContentFilter* filter);
  void whenRulesApply(std::string url, std::function<void()> start);
  bool decidePolicy(WebKitPolicyDecision* decision, int type);
  void loadChanged(int event);
  void loadFailed(const char* uri, const GError* error);
  void webProcessTerminated(int reason);
  void endDocument();
  void consoleMessage(const std::string& text);

  std::string pageName_;
  std::shared_ptr<const BundleDocuments> bundle_;
  std::shared_ptr<ContentFilterGate> filterGate_;
  // Marks the bundle's documents: scripts the shell evaluates run only in a
  // document that holds it (empty: no bundle, scripts run anywhere).
  std::string documentKey_;
  bool scriptsThroughExtension_;  // evaluateScript hands scripts to the web process extension
  base::AliveToken alive_;  // for the gate's late callback
  bool rulesApplied_ = false;
  bool rulesMissing_ = false;  // the rules could not be had: nothing loads
  struct HeldLoad {
    std::string url;
    std::function<void()> start;
  };
  std::vector<HeldLoad> heldLoads_;  // loads asked for before the rules applied
  WebKitUserContentManager* contentManager_;
  std::unique_ptr<PageChannel> channel_;
  WebKitWebView* view_;  // a reference of our own: the view outlives its time in the window
  std::vector<std::string> documentStartScripts_;
  std::function<void()> onLoadFinished_;
  LoadFailedHandler onLoadFailed_;
  DocumentEndedHandler onDocumentEnded_;
  std::string documentURI_;  // the document now in the view, since its load committed
  std::string loadedHTML_;   // the text of the latest loadHTML (empty after a loadURL)
  std::string loadedHTMLBaseURL_;
  bool currentLoadFailed_ = false;
  std::string failedURI_;          // the URL of the load that just failed
  bool showingErrorPage_ = false;  // the current load is the error page for failedURI_
};

}  // namespace tavero::platform
