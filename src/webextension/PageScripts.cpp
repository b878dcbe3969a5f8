#include "webextension/PageScripts.h"

#include <webkit2/webkit-web-extension.h>

#include <cstring>
#include <string>

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

// Runs the script as global code. Called from inside an event listener (see
// kListenerRunner): an exception it throws goes on to the listener, so the
// page's error handlers and console hear of it as of any uncaught one.
JSCValue* runScript(ScriptRun* run) {
  JSCContext* context = jsc_context_get_current();
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

// A script evaluated straight from here runs outside the page's event loop:
// the promise reactions it queues would wait for the page's next task, and
// its exceptions would reach no error handler. Run from an event listener,
// it is a script run like any other: the microtasks run as it ends, and what
// it throws is reported as thrown by a handler.
constexpr const char* kListenerRunner =
    "(function (run) {\n"
    "  const target = new EventTarget();\n"
    "  target.addEventListener('run', () => { run(); });\n"
    "  target.dispatchEvent(new Event('run'));\n"
    "})";

void runInListener(JSCContext* context, ScriptRun& run) {
  JSCValue* runner = jsc_context_evaluate(context, kListenerRunner, -1);
  JSCValue* function = jsc_value_new_function(context, nullptr, G_CALLBACK(runScript), &run, nullptr,
                                              JSC_TYPE_VALUE, 0);
  JSCValue* result = runner && jsc_value_is_function(runner)
                         ? jsc_value_function_call(runner, JSC_TYPE_VALUE, function, G_TYPE_NONE)
                         : nullptr;
  if (result) g_object_unref(result);
  g_object_unref(function);
  if (runner) g_object_unref(runner);
  // A page that replaced EventTarget or Event breaks the listener: the
  // script then runs straight from here.
  if (jsc_context_get_exception(context)) {
    jsc_context_clear_exception(context);
    runScript(&run);
    jsc_context_clear_exception(context);
  }
}

gboolean messageReceived(WebKitWebPage* page, WebKitUserMessage* message, gpointer) {
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
  runInListener(context, run);
  g_object_unref(context);
  webkit_user_message_send_reply(
      message, webkit_user_message_new(PageScripts::kMessageName, g_variant_new("(bs)", run.declined, run.thrown.c_str())));
  return TRUE;
}

void pageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
  g_signal_connect(page, "user-message-received", G_CALLBACK(messageReceived), nullptr);
}

}  // namespace

void PageScripts::serve(WebKitWebExtension* extension) {
  g_signal_connect(extension, "page-created", G_CALLBACK(pageCreated), nullptr);
}

}  // namespace tavero::webextension
