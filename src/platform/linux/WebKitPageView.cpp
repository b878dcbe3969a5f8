#include "platform/linux/WebKitPageView.h"

#include <webkit2/webkit2.h>

#include <utility>

#include "embedded/kConsoleForwardingScript.h"
#include "log/Log.h"
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

// Reports scripts that threw: a page developer wants to know.
void scriptEvaluated(GObject* source, GAsyncResult* result, gpointer data) {
  auto* pageName = static_cast<std::string*>(data);
  GError* error = nullptr;
  JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
  if (error) {
    log::warning("page " + *pageName + ": a script failed: " + error->message);
    g_error_free(error);
  }
  if (value) g_object_unref(value);
  delete pageName;
}

}  // namespace

WebKitPageView::WebKitPageView(Setup setup)
    : pageName_(std::move(setup.pageName)),
      bundle_(std::move(setup.bundle)),
      filterGate_(std::move(setup.filterGate)),
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
                                       contentManager_, nullptr));
  g_object_ref_sink(view_);
  WebKitSettings* settings = webkit_web_view_get_settings(view_);
  // Pages of a bundle read their own files (JSON, templates) by XHR.
  webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
  webkit_settings_set_enable_developer_extras(settings, TRUE);

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
  logFailedSubresourceLoads(view_, pageName_);
  installScripts();
  if (!filterGate_) {
    rulesApplied_ = true;
    return;
  }
  filterGate_->whenOpen([this, alive = std::weak_ptr<bool>(alive_)](WebKitUserContentFilter* filter) {
    if (alive.lock()) applyContentFilter(filter);
  });
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
  if (filter) {
    webkit_user_content_manager_add_filter(contentManager_, filter);
  } else if (bundle_ && !bundle_->readableFolders.empty()) {
    // Without the rules, pages may not read files by script at all rather
    // than read every file of the user.
    webkit_settings_set_allow_file_access_from_file_urls(webkit_web_view_get_settings(view_), FALSE);
    log::error("page " + pageName_ + ": the file rules are missing; pages cannot read files by script");
  }
  rulesApplied_ = true;
  auto held = std::move(heldLoads_);
  heldLoads_.clear();
  for (auto& load : held) load();
}

void WebKitPageView::whenRulesApply(std::function<void()> load) {
  if (rulesApplied_)
    load();
  else
    heldLoads_.push_back(std::move(load));
}

void WebKitPageView::loadFileURL(const std::string& url) {
  whenRulesApply([this, url] { webkit_web_view_load_uri(view_, url.c_str()); });
}

void WebKitPageView::loadHTML(const std::string& html, const std::string& baseURL) {
  whenRulesApply([this, html, baseURL] { webkit_web_view_load_html(view_, html.c_str(), baseURL.c_str()); });
}

void WebKitPageView::evaluateScript(const std::string& script) {
  webkit_web_view_evaluate_javascript(view_, script.data(), static_cast<gssize>(script.size()), nullptr, nullptr,
                                      nullptr, scriptEvaluated, new std::string(pageName_));
}

void WebKitPageView::setDocumentStartScripts(std::vector<std::string> scripts) {
  documentStartScripts_ = std::move(scripts);
  installScripts();
}

void WebKitPageView::installScripts() {
  webkit_user_content_manager_remove_all_scripts(contentManager_);
  addUserScript(contentManager_, kConsoleForwardingScript);
  if (bundle_)
    for (const auto& script : bundle_->scripts) addBundleScript(script, true);
  for (const auto& script : documentStartScripts_) addBundleScript(script, false);
}

// Bundle scripts reach only the bundle's own documents: a web page shown in
// a frame (or navigated to) sees neither the page globals nor the shell's
// page token.
void WebKitPageView::addBundleScript(const std::string& source, bool allFrames) {
  if (!bundle_ || bundle_->urlPatterns.empty()) {
    addUserScript(contentManager_, source.c_str(), allFrames);
    return;
  }
  std::vector<const char*> allowList;
  for (const auto& pattern : bundle_->urlPatterns) allowList.push_back(pattern.c_str());
  allowList.push_back(nullptr);
  addUserScript(contentManager_, source.c_str(), allFrames, allowList.data());
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
