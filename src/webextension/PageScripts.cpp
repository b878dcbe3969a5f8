#include "webextension/PageScripts.h"

#include <webkit2/webkit-web-extension.h>

#include <cstring>
#include <string>
#include <utility>

namespace tavero::webextension {
namespace {

// The exception's text as WebKit's own evaluation reports it, with the line.
std::string describe(JSCException* exception) {
  char* text = jsc_exception_to_string(exception);
  std::string described = text ? text : "an exception";
  g_free(text);
  return described;
}

// What one script did, filled in while it runs.
struct ScriptRun {
  const char* source;
  gssize length;
  bool declined = false;
  std::string thrown;
};

// A script evaluated straight from here runs outside the page's event loop:
// the promise reactions it queues would wait for the page's next task, and
// its exceptions would reach no error handler. Run from an event listener,
// it is a script run like any other: the microtasks run as it ends, and what
// it throws is reported as thrown by a handler. The listener and its event
// target are made once per document, with the constructors as they are
// before the page's scripts could replace them.
constexpr const char* kListenerRunner =
    "(function (run) {\n"
    "  const target = new EventTarget();\n"
    "  const RunEvent = Event;\n"
    "  target.addEventListener('run', () => { run(); });\n"
    "  return () => { target.dispatchEvent(new RunEvent('run')); };\n"
    "})";

// The runner of the document a page shows, kept from one script to the next
// (made anew when the page shows another document).
struct PageRunner {
  JSCContext* context = nullptr;  // the document's, which the runner belongs to
  JSCValue* dispatch = nullptr;   // runs `current` from the listener
  ScriptRun* current = nullptr;

  ~PageRunner() { clear(); }
  void clear() {
    g_clear_object(&dispatch);
    g_clear_object(&context);
  }
};

// Runs the current script as global code, from inside the listener: an
// exception it throws goes on to the listener, so the page's error handlers
// and console hear of it as of any uncaught one.
// The function is the page's to call at other times too (a page may have
// replaced EventTarget before the first script), so it runs the current
// script at most once, in the document's own context, and nothing otherwise.
JSCValue* runScript(PageRunner* page) {
  ScriptRun* run = std::exchange(page->current, nullptr);
  JSCContext* context = page->context;
  if (!run || !context) return jsc_value_new_undefined(jsc_context_get_current());
  JSCValue* value = jsc_context_evaluate(context, run->source, run->length);
  run->declined = value && jsc_value_is_boolean(value) && !jsc_value_to_boolean(value);
  if (JSCException* exception = jsc_context_get_exception(context)) {
    run->thrown = describe(exception);
    g_object_ref(exception);
    jsc_context_clear_exception(context);
    jsc_context_throw_exception(context, exception);
    g_object_unref(exception);
  }
  return value ? value : jsc_value_new_undefined(context);
}

JSCValue* makeDispatch(JSCContext* context, PageRunner* page) {
  JSCValue* factory = jsc_context_evaluate(context, kListenerRunner, -1);
  JSCValue* run = jsc_value_new_function(context, nullptr, G_CALLBACK(runScript), page, nullptr, JSC_TYPE_VALUE, 0);
  JSCValue* dispatch = factory && jsc_value_is_function(factory)
                           ? jsc_value_function_call(factory, JSC_TYPE_VALUE, run, G_TYPE_NONE)
                           : nullptr;
  g_object_unref(run);
  if (factory) g_object_unref(factory);
  if (dispatch && !jsc_value_is_function(dispatch)) g_clear_object(&dispatch);
  jsc_context_clear_exception(context);
  return dispatch;
}

void runInListener(PageRunner& page, JSCContext* context, ScriptRun& run) {
  if (page.context != context) {
    page.clear();
    page.context = JSC_CONTEXT(g_object_ref(context));
    page.dispatch = makeDispatch(context, &page);
  }
  page.current = &run;
  JSCValue* result = page.dispatch ? jsc_value_function_call(page.dispatch, G_TYPE_NONE) : nullptr;
  if (result) g_object_unref(result);
  // Without a runner (the document made none: its scripts are off), or when
  // the listener did not run it, the script runs straight from here.
  if (std::exchange(page.current, nullptr)) {
    JSCValue* value = jsc_context_evaluate(context, run.source, run.length);
    run.declined = value && jsc_value_is_boolean(value) && !jsc_value_to_boolean(value);
    if (JSCException* exception = jsc_context_get_exception(context)) run.thrown = describe(exception);
    if (value) g_object_unref(value);
  }
  jsc_context_clear_exception(context);
}

gboolean messageReceived(WebKitWebPage* page, WebKitUserMessage* message, gpointer data) {
  if (std::strcmp(webkit_user_message_get_name(message), PageScripts::kMessageName) != 0) return FALSE;
  GVariant* parameters = webkit_user_message_get_parameters(message);
  if (!parameters || !g_variant_is_of_type(parameters, G_VARIANT_TYPE_BYTESTRING)) return FALSE;
  gsize length = 0;
  const auto* source = static_cast<const char*>(g_variant_get_fixed_array(parameters, &length, 1));
  // WebKit marks main frame access deprecated (site isolation may put a
  // page's frames in several processes); the main frame is in this one,
  // which is where the shell's scripts run, and there is no other way to it.
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  JSCContext* context = webkit_frame_get_js_context(webkit_web_page_get_main_frame(page));
  G_GNUC_END_IGNORE_DEPRECATIONS
  ScriptRun run{.source = length ? source : "", .length = static_cast<gssize>(length), .declined = false, .thrown = {}};
  runInListener(*static_cast<PageRunner*>(data), context, run);
  g_object_unref(context);
  webkit_user_message_send_reply(
      message, webkit_user_message_new(PageScripts::kMessageName, g_variant_new("(bs)", run.declined, run.thrown.c_str())));
  return TRUE;
}

void pageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
  auto* runner = new PageRunner;
  // Freed with the page; the runner lets go of its document when the page
  // has loaded one (it is made again for the next script).
  g_object_set_data_full(G_OBJECT(page), "tavero-page-runner", runner,
                         [](gpointer data) { delete static_cast<PageRunner*>(data); });
  g_signal_connect(page, "user-message-received", G_CALLBACK(messageReceived), runner);
  g_signal_connect(page, "document-loaded", G_CALLBACK(+[](WebKitWebPage*, gpointer data) {
                     static_cast<PageRunner*>(data)->clear();
                   }),
                   runner);
}

}  // namespace

void PageScripts::serve(WebKitWebExtension* extension) {
  g_signal_connect(extension, "page-created", G_CALLBACK(pageCreated), nullptr);
}

}  // namespace tavero::webextension
