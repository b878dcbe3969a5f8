// The web view as the shell uses it, and the window that shows one of them.
//
// Thread rules: main thread only, for every call and every handler.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavero::platform {

// The answer to one message that a document sent on the shell's channel
// (a promise in the page). Answer once; an object dropped unanswered
// rejects the page's promise.
class PageMessageReply {
 public:
  virtual ~PageMessageReply() = default;
  virtual void resolve(const std::string& text) = 0;
  virtual void reject(const std::string& message) = 0;
};

// Receives every message sent on the channel by any document of any view:
// the label of the view (its page name), the message's JSON text, and the
// reply. Any frame of a view can send, web content included: the handler
// must check who is speaking.
using PageMessageHandler = std::function<void(const std::string& viewLabel, std::string message,
                                              std::unique_ptr<PageMessageReply> reply)>;

// What the shell lets the application's own documents have, and nothing
// else: scripts that run at the start of each of the bundle's documents (in
// every frame), and which local files pages may load.
struct BundleDocuments {
  // URL patterns ("file:///app/webapp/*") of the bundle's documents. Page
  // globals and these scripts go only to documents that match.
  std::vector<std::string> urlPatterns;
  // The origin ("http://127.0.0.1:5173") of the development server the app
  // is loaded from, when the user asked for one: its documents count as the
  // bundle's, and no other web origin's do. Empty: none.
  std::string developmentOrigin;
  // Scripts run at the start of every bundle document, in every frame,
  // before the page's own scripts.
  std::vector<std::string> scripts;
  // Folders whose files pages may load (the bundle, and what the shell
  // gives pages); every other file: URL is refused.
  std::vector<std::filesystem::path> readableFolders;
  // URL prefixes pages may not load at all (a port that another program
  // holds, say).
  std::vector<std::string> blockedURLPrefixes;
  // Whether the bundle's documents may download files; downloads started by
  // any other content are refused either way.
  bool allowsDownloads = false;
};

// What a script evaluated for its result gave (WebView::evaluateForResult).
struct ScriptResult {
  enum class Kind {
    Value,        // text: the script's value as JSON text (null for undefined)
    Exception,    // text: what the script threw, or why its promise was rejected
    Invalid,      // text: why the script is not JavaScript (it did not run)
    Unavailable,  // text: why the script did not run or its answer is missing
  };
  Kind kind;
  std::string text;
};

// Bounds on one evaluation for a result.
struct ScriptLimits {
  size_t maxResultLength = 1 << 20;  // characters of the JSON text
  std::chrono::milliseconds timeout{std::chrono::seconds(20)};
};

// A picture of a view or a window, or why there is none.
struct Snapshot {
  std::string png;  // PNG bytes; empty when there is no picture
  int width = 0;
  int height = 0;
  std::string error;  // why there is no picture
};

class WebView {
 public:
  virtual ~WebView() = default;

  // Starts loading and returns at once: a file: URL of the bundle, or the
  // address of the development server the app is loaded from.
  virtual void loadURL(const std::string& url) = 0;
  virtual void loadHTML(const std::string& html, const std::string& baseURL) = 0;

  // Evaluates `script` in the document now in the view; returns at once.
  // Scripts run in the order they were given. When the view has bundle
  // documents (setBundleDocuments), a script runs only if the document it
  // lands in is one of them, and is dropped otherwise: a web site the app
  // navigated to gets nothing meant for the app's page. A script evaluated
  // before the first load commits lands in the view's empty first document.
  virtual void evaluateScript(const std::string& script) = 0;

  // Ends the document now in the view (the document-ended handler is told
  // before this returns, so nothing of the old document's reaches the new
  // one) and loads it again from its source, past every cache. Does nothing
  // before the first document.
  virtual void reload() = 0;

  // Replaces the scripts that run at the start of every top-level bundle
  // document this view loads from now on, before the page's own scripts
  // (after the bundle scripts), in this order.
  virtual void setDocumentStartScripts(std::vector<std::string> scripts) = 0;

  // Called after every load that finished successfully (not after a failed
  // one, nor after the error page the view may show for a failed one).
  virtual void setLoadFinishedHandler(std::function<void()> handler) = 0;

  // Called when loading the view's document fails, with its URL and the
  // reason (a load cancelled by a newer one is not a failure).
  using LoadFailedHandler = std::function<void(const std::string& url, const std::string& reason)>;
  virtual void setLoadFailedHandler(LoadFailedHandler handler) = 0;

  // Called when the document now in the view goes away, with its URL: when
  // the view starts loading another document (a reload too), and when the
  // process that showed it ends. Not called before the first document.
  using DocumentEndedHandler = std::function<void(const std::string& url)>;
  virtual void setDocumentEndedHandler(DocumentEndedHandler handler) = 0;

  // Evaluates `script` in the document now in the view and hands `done` its
  // value as JSON text, on the main thread, once. Only bundle documents run
  // it, as for evaluateScript; any other document gives Unavailable. The
  // script is an expression, or else the body of an async function whose
  // `return` gives the value; a promise is awaited. A result longer than
  // `limits` allow, or none within its time, gives Unavailable.
  virtual void evaluateForResult(const std::string& script, ScriptLimits limits,
                                 std::function<void(ScriptResult)> done) = 0;
  // A PNG of what the view shows, handed to `done` on the main thread.
  virtual void snapshot(std::function<void(Snapshot)> done) = 0;
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

  // Sets what bundle documents get, for every view created afterwards.
  // Views wait with their first load until the file rules are in force.
  virtual void setBundleDocuments(BundleDocuments documents) = 0;
  // Who receives the channel's messages (replaces the previous handler).
  virtual void setPageMessageHandler(PageMessageHandler handler) = 0;
};

}  // namespace tavero::platform
