#include "platform/linux/WebKitPageView.h"

#include <webkit2/webkit2.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "base/MainThread.h"
#include "bridge/PageToken.h"
#include "embedded/kConsoleForwardingScript.h"
#include "log/Log.h"
#include "platform/linux/FileURLCheck.h"
#include "platform/linux/PageScriptRun.h"
#include "platform/linux/ResultScript.h"
#include "platform/linux/SubresourceLoadLog.h"
#include "platform/linux/TerminationSignals.h"

namespace tavero::platform {
namespace {

constexpr const char* kConsoleHandler = "taveroConsole";

void addUserScript(WebKitUserContentManager* manager, const char* source, bool allFrames = false,
                   const char* const* allowList = nullptr) {
  WebKitUserScript* script = webkit_user_script_new(
      source, allFrames ? WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES : WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, allowList, nullptr);
  webkit_user_content_manager_add_script(manager, script);
  webkit_user_script_unref(script);
}

// The hidden property that marks a document as one of the bundle's own; its
// value is the view's document key.
constexpr const char* kDocumentKeyProperty = "__taveroDocumentKey";

std::string documentKeyScript(const std::string& key) {
  return std::string("Object.defineProperty(window, '") + kDocumentKeyProperty + "', {value: '" + key +
         "', enumerable: false, writable: false, configurable: false});";
}

// Runs `script` only in a document that holds the key, and says whether it
// ran. The check happens in the document the script lands in, at the moment
// it runs, so a navigation between the shell's decision and the evaluation
// cannot hand the script to another document. A document that is not the
// bundle's cannot pass it: it never sees the key, and a strict comparison
// with a literal reveals nothing to getters it may have planted.
std::string bundleDocumentCheck(const std::string& key) {
  return std::string("window.") + kDocumentKeyProperty + " === '" + key + "'";
}

std::string gatedScript(const std::string& key, const std::string& script) {
  return "if (" + bundleDocumentCheck(key) + ") {\n" + script + "\n;true} else false";
}

// "http://127.0.0.1:5173" without ":5173" ("http://[::1]:5173" keeps its brackets).
std::string originWithoutPort(const std::string& origin) {
  const size_t colon = origin.rfind(':');
  const size_t hostStart = origin.find("//");
  if (colon == std::string::npos || hostStart == std::string::npos || colon < hostStart ||
      origin.back() == ']')
    return origin;
  return origin.substr(0, colon);
}

// One evaluation for a result: answered once, by the page or by its
// timeout, whichever comes first; freed when both have had their turn.
struct ResultEvaluation {
  std::function<void(ScriptResult)> done;
  ScriptLimits limits;
  std::string pageName;
  GCancellable* cancellable = g_cancellable_new();
  unsigned timeoutSource = 0;
  int owners = 2;  // the WebKit callback and the timeout

  ~ResultEvaluation() { g_object_unref(cancellable); }
  void finish(ScriptResult result) {
    if (done) std::exchange(done, nullptr)(std::move(result));
  }
  void release() {
    if (--owners == 0) delete this;
  }
};

ScriptResult resultOfError(const GError* error, const ScriptLimits& limits) {
  if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
    return {ScriptResult::Kind::Unavailable, "the page did not answer within " +
                                                 std::to_string(limits.timeout.count()) + " ms"};
  if (g_error_matches(error, WEBKIT_JAVASCRIPT_ERROR, WEBKIT_JAVASCRIPT_ERROR_SCRIPT_FAILED))
    return {ScriptResult::Kind::Exception, error->message};
  return {ScriptResult::Kind::Unavailable, std::string("the script could not run: ") + error->message};
}

void resultEvaluated(GObject* source, GAsyncResult* result, gpointer data) {
  auto* evaluation = static_cast<ResultEvaluation*>(data);
  GError* error = nullptr;
  JSCValue* value = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error);
  if (error) {
    evaluation->finish(resultOfError(error, evaluation->limits));
    g_error_free(error);
  } else {
    char* text = value && jsc_value_is_string(value) ? jsc_value_to_string(value) : nullptr;
    const char* uri = webkit_web_view_get_uri(WEBKIT_WEB_VIEW(source));
    evaluation->finish(ResultScript::answer(text ? text : "", evaluation->limits.maxResultLength, uri ? uri : ""));
    g_free(text);
  }
  if (value) g_object_unref(value);
  if (evaluation->timeoutSource) g_source_remove(std::exchange(evaluation->timeoutSource, 0u));
  evaluation->release();
}

Snapshot pngOfSurface(cairo_surface_t* surface) {
  Snapshot picture;
  picture.width = cairo_image_surface_get_width(surface);
  picture.height = cairo_image_surface_get_height(surface);
  cairo_status_t status = cairo_surface_write_to_png_stream(
      surface,
      [](void* closure, const unsigned char* data, unsigned int length) {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
        return CAIRO_STATUS_SUCCESS;
      },
      &picture.png);
  if (status != CAIRO_STATUS_SUCCESS) {
    picture.png.clear();
    picture.error = std::string("cannot make a PNG: ") + cairo_status_to_string(status);
  }
  return picture;
}

}  // namespace

WebKitPageView::WebKitPageView(Setup setup)
    : pageName_(std::move(setup.pageName)),
      bundle_(std::move(setup.bundle)),
      filterGate_(std::move(setup.filterGate)),
      documentKey_(bundle_ && !bundle_->urlPatterns.empty() ? bridge::makePageToken() : std::string()),
      scriptsThroughExtension_(setup.scriptsThroughExtension),
      contentManager_(webkit_user_content_manager_new()) {
  WebKitWebContext* context = setup.context;
  g_signal_connect(contentManager_, "script-message-received::taveroConsole",
                   G_CALLBACK(+[](WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self) {
                     char* text = jsc_value_to_string(webkit_javascript_result_get_js_value(result));
                     static_cast<WebKitPageView*>(self)->consoleMessage(text ? text : "");
                     g_free(text);
                   }),
                   this);
  webkit_user_content_manager_register_script_message_handler(contentManager_, kConsoleHandler);
  if (setup.onMessage) channel_ = std::make_unique<PageChannel>(contentManager_, std::move(setup.onMessage));

  view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "user-content-manager",
                                       contentManager_, "is-controlled-by-automation",
                                       setup.controlledByAutomation ? TRUE : FALSE, nullptr));
  g_object_ref_sink(view_);
  WebKitSettings* settings = webkit_web_view_get_settings(view_);
  // Pages of a bundle read their own files (JSON, templates) by XHR.
  webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
  webkit_settings_set_enable_developer_extras(settings, TRUE);
  // A document the view leaves is gone for the shell (its transactions end,
  // its callbacks are dropped): it must not come back from a cache with state
  // the shell no longer has; going back loads it afresh.
  webkit_settings_set_enable_page_cache(settings, FALSE);

  g_signal_connect(view_, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
                     static_cast<WebKitPageView*>(self)->loadChanged(event);
                   }),
                   this);
  g_signal_connect(view_, "load-failed",
                   G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer self) -> gboolean {
                     static_cast<WebKitPageView*>(self)->loadFailed(uri, error);
                     return FALSE;  // the view shows its error page
                   }),
                   this);
  g_signal_connect(view_, "web-process-terminated",
                   G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer self) {
                     static_cast<WebKitPageView*>(self)->webProcessTerminated(reason);
                   }),
                   this);
  g_signal_connect(view_, "decide-policy",
                   G_CALLBACK(+[](WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                  gpointer self) -> gboolean {
                     return static_cast<WebKitPageView*>(self)->decidePolicy(decision, type);
                   }),
                   this);
  logFailedSubresourceLoads(view_, pageName_);
  installScripts();
  if (!filterGate_) {
    rulesApplied_ = true;
    return;
  }
  filterGate_->whenOpen(alive_.guard([this](WebKitUserContentFilter* filter) { applyContentFilter(filter); }));
}

WebKitPageView::~WebKitPageView() {
  channel_.reset();
  g_signal_handlers_disconnect_by_data(view_, this);
  g_signal_handlers_disconnect_by_data(contentManager_, this);
  g_object_unref(view_);
  g_object_unref(contentManager_);
}

GtkWidget* WebKitPageView::widget() const { return GTK_WIDGET(view_); }

void WebKitPageView::applyContentFilter(WebKitUserContentFilter* filter) {
  const bool rulesNeeded = bundle_ && (!bundle_->readableFolders.empty() || !bundle_->blockedURLPrefixes.empty());
  if (filter) {
    webkit_user_content_manager_add_filter(contentManager_, filter);
  } else if (rulesNeeded) {
    // The rules keep pages to their own files and away from a port another
    // program holds: without them no page loads at all.
    rulesMissing_ = true;
    log::error("page " + pageName_ + ": the web view's content rules are missing; no page is loaded");
  }
  rulesApplied_ = true;
  auto held = std::move(heldLoads_);
  heldLoads_.clear();
  for (auto& load : held) whenRulesApply(std::move(load.url), std::move(load.start));
}

void WebKitPageView::whenRulesApply(std::string url, std::function<void()> start) {
  if (!rulesApplied_) {
    heldLoads_.push_back({std::move(url), std::move(start)});
  } else if (rulesMissing_) {
    log::error("page " + pageName_ + ": refused to load " + urlForLog(url) + " without the content rules");
    if (onLoadFailed_) onLoadFailed_(url, "the web view's content rules are missing");
  } else {
    start();
  }
}

void WebKitPageView::loadURL(const std::string& url) {
  base::requireMainThread("WebKitPageView::loadURL");
  whenRulesApply(url, [this, url] {
    loadedHTML_.clear();
    webkit_web_view_load_uri(view_, url.c_str());
  });
}

void WebKitPageView::loadHTML(const std::string& html, const std::string& baseURL) {
  base::requireMainThread("WebKitPageView::loadHTML");
  whenRulesApply(baseURL, [this, html, baseURL] {
    loadedHTML_ = html;
    loadedHTMLBaseURL_ = baseURL;
    webkit_web_view_load_html(view_, html.c_str(), baseURL.c_str());
  });
}

void WebKitPageView::reload() {
  base::requireMainThread("WebKitPageView::reload");
  if (documentURI_.empty()) return;
  // Ended here rather than when the new load starts: whoever asked for the
  // reload has the old document's state gone before anything new arrives.
  // A page made from text reloads from its text: WebKit would load its
  // base URL, which is a folder.
  const bool showsLoadedHTML = !loadedHTML_.empty() && documentURI_ == loadedHTMLBaseURL_;
  endDocument();
  if (showsLoadedHTML)
    webkit_web_view_load_html(view_, loadedHTML_.c_str(), loadedHTMLBaseURL_.c_str());
  else
    webkit_web_view_reload_bypass_cache(view_);
}

void WebKitPageView::evaluateScript(const std::string& script) {
  base::requireMainThread("WebKitPageView::evaluateScript");
  const bool gated = !documentKey_.empty();
  PageScriptRun::start(view_, {.pageName = pageName_,
                               .source = gated ? gatedScript(documentKey_, script) : script,
                               .gated = gated,
                               .throughExtension = scriptsThroughExtension_});
}

void WebKitPageView::evaluateForResult(const std::string& script, ScriptLimits limits,
                                       std::function<void(ScriptResult)> done) {
  base::requireMainThread("WebKitPageView::evaluateForResult");
  auto body = ResultScript::functionBody(script, documentKey_.empty() ? "" : bundleDocumentCheck(documentKey_),
                                         limits.maxResultLength);
  if (auto* invalid = std::get_if<ScriptResult>(&body)) {
    done(std::move(*invalid));
    return;
  }
  const std::string& function = std::get<std::string>(body);
  auto* evaluation = new ResultEvaluation{std::move(done), limits, pageName_};
  // A page busy for good never answers: the timeout answers for it, and
  // cancels the call.
  evaluation->timeoutSource = g_timeout_add_full(
      G_PRIORITY_DEFAULT, static_cast<guint>(std::max<int64_t>(1, limits.timeout.count())),
      [](gpointer data) -> gboolean {
        auto* timedOut = static_cast<ResultEvaluation*>(data);
        timedOut->timeoutSource = 0;
        log::warning("page " + timedOut->pageName + ": a script run for its result did not answer within " +
                     std::to_string(timedOut->limits.timeout.count()) + " ms");
        g_cancellable_cancel(timedOut->cancellable);
        timedOut->finish({ScriptResult::Kind::Unavailable, "the page did not answer within " +
                                                               std::to_string(timedOut->limits.timeout.count()) +
                                                               " ms"});
        return G_SOURCE_REMOVE;
      },
      evaluation, [](gpointer data) { static_cast<ResultEvaluation*>(data)->release(); });
  webkit_web_view_call_async_javascript_function(view_, function.data(), static_cast<gssize>(function.size()),
                                                 nullptr, nullptr, nullptr, evaluation->cancellable,
                                                 resultEvaluated, evaluation);
}

void WebKitPageView::snapshot(std::function<void(Snapshot)> done) {
  base::requireMainThread("WebKitPageView::snapshot");
  using Done = std::function<void(Snapshot)>;
  webkit_web_view_get_snapshot(
      view_, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Done> done(static_cast<Done*>(data));
        GError* error = nullptr;
        cairo_surface_t* surface = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error);
        Snapshot picture;
        if (surface) {
          picture = pngOfSurface(surface);
          cairo_surface_destroy(surface);
        } else {
          picture.error = std::string("the page gave no picture: ") + (error ? error->message : "unknown reason");
        }
        if (error) g_error_free(error);
        (*done)(std::move(picture));
      },
      new Done(std::move(done)));
}

void WebKitPageView::setDocumentStartScripts(std::vector<std::string> scripts) {
  base::requireMainThread("WebKitPageView::setDocumentStartScripts");
  documentStartScripts_ = std::move(scripts);
  installScripts();
}

void WebKitPageView::installScripts() {
  webkit_user_content_manager_remove_all_scripts(contentManager_);
  addUserScript(contentManager_, kConsoleForwardingScript);
  if (!documentKey_.empty()) addBundleScript(documentKeyScript(documentKey_), true);
  if (bundle_)
    for (const auto& script : bundle_->scripts) addBundleScript(script, true);
  for (const auto& script : documentStartScripts_) addBundleScript(script, false);
}

// Bundle scripts reach only the bundle's own documents: a web page shown in
// a frame (or navigated to) sees neither the page globals nor the shell's
// page token.
void WebKitPageView::addBundleScript(const std::string& source, bool allFrames) {
  if (!bundle_ || (bundle_->urlPatterns.empty() && bundle_->developmentOrigin.empty())) {
    addUserScript(contentManager_, source.c_str(), allFrames);
    return;
  }
  std::vector<std::string> patterns = bundle_->urlPatterns;
  std::string guarded = source;
  if (!bundle_->developmentOrigin.empty()) {
    // WebKit's patterns name a host but no port: "http://127.0.0.1/*" lets
    // the script into every loopback server's documents. The document's own
    // origin, checked as the script starts (before any script of that
    // document has run), keeps it to the development server's.
    patterns.push_back(originWithoutPort(bundle_->developmentOrigin) + "/*");
    guarded = "if (window.location.protocol === 'file:' || window.location.origin === '" +
              bundle_->developmentOrigin + "') {\n" + source + "\n}";
  }
  std::vector<const char*> allowList;
  for (const auto& pattern : patterns) allowList.push_back(pattern.c_str());
  allowList.push_back(nullptr);
  addUserScript(contentManager_, guarded.c_str(), allFrames, allowList.data());
}

// Documents from files load only from the folders pages may read, judged on
// the file the loader would open (escapes decoded, links resolved): the
// content rules see only the URL's text.
bool WebKitPageView::decidePolicy(WebKitPolicyDecision* decision, int type) {
  if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
    return FALSE;
  if (!bundle_ || bundle_->readableFolders.empty()) return FALSE;
  WebKitNavigationAction* action =
      webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  if (!uri || g_ascii_strncasecmp(uri, "file:", 5) != 0) return FALSE;
  if (fileURLIsInside(uri, bundle_->readableFolders)) return FALSE;
  log::warning("page " + pageName_ + ": refused to load " + urlForLog(uri) +
               ": pages load documents only from the app's own folders");
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

void WebKitPageView::loadChanged(int event) {
  if (event == WEBKIT_LOAD_COMMITTED) {
    const char* uri = webkit_web_view_get_uri(view_);
    documentURI_ = uri ? uri : "";
  }
  if (event == WEBKIT_LOAD_STARTED) {
    // Told when the new load starts, before any script of the new document
    // runs: at commit the new document may already be calling the shell.
    endDocument();
    // After a failed load the view loads its error page under the failed
    // URL: that load is not the page's, and must not count as finished.
    const char* uri = webkit_web_view_get_uri(view_);
    showingErrorPage_ = currentLoadFailed_ && uri && failedURI_ == uri;
    currentLoadFailed_ = false;
    failedURI_.clear();
  }
  if (event != WEBKIT_LOAD_FINISHED || currentLoadFailed_ || showingErrorPage_) return;
  if (onLoadFinished_) onLoadFinished_();
}

void WebKitPageView::loadFailed(const char* uri, const GError* error) {
  std::string url = uri ? uri : "";
  std::string reason = error ? error->message : "unknown error";
  // WebKit names the content blocker, not whose rules it applied: the
  // shell's own, which let pages load only the app's files.
  if (reason.find("content blocker") != std::string::npos && url.starts_with("file:"))
    reason += " (the shell lets pages load only files inside the app's webapp folder and the folders it may "
              "read; this file is outside them, or its URL has encoded separators, dots or NUL characters)";
  if (error && isCancelledLoad(error)) {
    log::debug("page " + pageName_ + ": loading " + urlForLog(url) + " was cancelled: " + reason);
    return;
  }
  currentLoadFailed_ = true;
  failedURI_ = url;
  log::warning("page " + pageName_ + ": loading " + urlForLog(url) + " failed: " + reason);
  if (onLoadFailed_) onLoadFailed_(url, reason);
}

void WebKitPageView::endDocument() {
  if (documentURI_.empty()) return;
  std::string url = std::exchange(documentURI_, std::string());
  if (onDocumentEnded_) onDocumentEnded_(url);
}

void WebKitPageView::webProcessTerminated(int reason) {
  endDocument();
  const std::string page = "page " + pageName_ + ": the web process ended";
  switch (reason) {
    case WEBKIT_WEB_PROCESS_CRASHED:
      // Ctrl-C in a terminal reaches the whole process group, the web
      // process included: then it ended with the shell, it did not crash.
      if (TerminationSignals::received() != 0) {
        log::info(page + " on the signal that stops the shell");
      } else {
        log::error(page + " (crashed); the page is gone until the shell is started again");
      }
      break;
    case WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT:
      log::error(page + " (ran out of memory); the page is gone until the shell is started again");
      break;
    default:
      log::debug(page + " (stopped by the shell)");
      break;
  }
}

void WebKitPageView::consoleMessage(const std::string& text) {
  // "<level> <message>": errors and warnings keep their weight in the log.
  size_t space = text.find(' ');
  std::string level = text.substr(0, space);
  std::string line = "[" + pageName_ + "] " + (space == std::string::npos ? std::string() : text.substr(space + 1));
  if (level == "error")
    log::error(line);
  else if (level == "warn")
    log::warning(line);
  else
    log::info(line);
}

}  // namespace tavero::platform
