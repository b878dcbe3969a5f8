#include "platform/linux/PageScriptRun.h"

#include <webkit2/webkit2.h>

#include <memory>

#include "log/Log.h"
#include "platform/linux/SubresourceLoadLog.h"

namespace tavero::platform {
namespace {

struct Run {
  std::string pageName;
  bool gated;
  GVariant* source = nullptr;  // the script as sent to the extension ("ay"), kept for WebKit's road

  ~Run() {
    if (source) g_variant_unref(source);
  }
};

void logDeclined(WebKitWebView* view, const Run& run) {
  const char* uri = webkit_web_view_get_uri(view);
  log::debug("page " + run.pageName + ": a script for the app's document was dropped: the view shows " +
             urlForLog(uri ? uri : ""));
}

void logFailure(const Run& run, const char* message) {
  log::warning("page " + run.pageName + ": a script failed: " + message);
}

void evaluatedByWebKit(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<Run> run(static_cast<Run*>(data));
  GError* error = nullptr;
  JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
  if (error) {
    logFailure(*run, error->message);
    g_error_free(error);
  }
  if (value && run->gated && jsc_value_is_boolean(value) && !jsc_value_to_boolean(value))
    logDeclined(WEBKIT_WEB_VIEW(source), *run);
  if (value) g_object_unref(value);
}

void evaluateByWebKit(WebKitWebView* view, const char* source, gsize length, std::unique_ptr<Run> run) {
  webkit_web_view_evaluate_javascript(view, source, static_cast<gssize>(length), nullptr, nullptr, nullptr,
                                      evaluatedByWebKit, run.release());
}

void answeredByExtension(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<Run> run(static_cast<Run*>(data));
  WebKitWebView* view = WEBKIT_WEB_VIEW(source);
  GError* error = nullptr;
  WebKitUserMessage* reply = webkit_web_view_send_message_to_page_finish(view, result, &error);
  if (g_error_matches(error, WEBKIT_USER_MESSAGE_ERROR, WEBKIT_USER_MESSAGE_UNHANDLED_MESSAGE)) {
    // This web process runs without the extension (it could not read the
    // shell's settings): WebKit runs the script.
    g_error_free(error);
    gsize length = 0;
    const void* text = g_variant_get_fixed_array(run->source, &length, 1);
    evaluateByWebKit(view, static_cast<const char*>(text), length, std::move(run));
    return;
  }
  if (error) {
    logFailure(*run, error->message);
    g_error_free(error);
    return;
  }
  GVariant* answer = webkit_user_message_get_parameters(reply);
  if (answer && g_variant_is_of_type(answer, G_VARIANT_TYPE("(bs)"))) {
    gboolean declined = FALSE;
    const char* exception = nullptr;
    g_variant_get(answer, "(b&s)", &declined, &exception);
    if (*exception) logFailure(*run, exception);
    if (declined && run->gated) logDeclined(view, *run);
  } else {
    log::error("page " + run->pageName + ": the web process extension answered a script with a message of another form");
  }
  g_object_unref(reply);
}

}  // namespace

void PageScriptRun::start(WebKitWebView* view, Script script) {
  auto run = std::make_unique<Run>(Run{.pageName = std::move(script.pageName), .gated = script.gated});
  if (!script.throughExtension) {
    evaluateByWebKit(view, script.source.data(), script.source.size(), std::move(run));
    return;
  }
  // Bytes rather than a string: a script need not be valid UTF-8 for WebKit.
  run->source = g_variant_ref_sink(
      g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, script.source.data(), script.source.size(), 1));
  WebKitUserMessage* message = webkit_user_message_new(kMessageName, run->source);
  webkit_web_view_send_message_to_page(view, message, nullptr, answeredByExtension, run.release());
}

}  // namespace tavero::platform
