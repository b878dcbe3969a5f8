// The shell's web process extension: WebKit loads it into every web process
// of the shell's web context, with what the shell gives it (the socket of
// page calls, the page token, and the rule of which documents are the
// bundle's). Each bundle document gets the page call function as its window
// object is made; no other document does (a web site in a frame or
// navigated to, a data: or blob: frame, an about:blank frame).
#include <webkit2/webkit-web-extension.h>

#include <memory>
#include <string>
#include <vector>

#include "webextension/BundleDocumentRule.h"
#include "webextension/NativeCalls.h"
#include "webextension/PageScripts.h"

namespace {

using tavero::webextension::BundleDocumentRule;
using tavero::webextension::NativeCalls;
using tavero::webextension::PageScripts;

struct Extension {
  BundleDocumentRule documents;
  NativeCalls calls;
};

// One per web process, for the process's life.
Extension* extension = nullptr;

void windowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer) {
  const char* uri = webkit_frame_get_uri(frame);
  if (!uri || !extension->documents.isBundleDocument(uri)) return;
  JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
  extension->calls.installInto(context, webkit_web_page_get_id(page));
  g_object_unref(context);
}

}  // namespace

// The data: (socket path, page token, bundle URL patterns, development origin).
extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(WebKitWebExtension* webExtension,
                                                                               const GVariant* data) {
  GVariant* settings = const_cast<GVariant*>(data);
  if (extension || !settings || !g_variant_is_of_type(settings, G_VARIANT_TYPE("(ssass)"))) {
    g_warning("tavero web extension: no settings from the shell; pages use the shell's other roads");
    return;
  }
  // The shell's scripts run through the extension in every page, the
  // bundle's or not: each carries its own check of the document.
  PageScripts::serve(webExtension);
  const char* socketPath = nullptr;
  const char* token = nullptr;
  const char* developmentOrigin = nullptr;
  GVariantIter* patternsIter = nullptr;
  g_variant_get(settings, "(&s&sas&s)", &socketPath, &token, &patternsIter, &developmentOrigin);
  std::vector<std::string> patterns;
  const char* pattern = nullptr;
  while (g_variant_iter_next(patternsIter, "&s", &pattern)) patterns.emplace_back(pattern);
  g_variant_iter_free(patternsIter);
  if (patterns.empty() && !*developmentOrigin) return;  // no bundle documents: nothing gets the function
  extension = new Extension{BundleDocumentRule(std::move(patterns), developmentOrigin), NativeCalls(socketPath, token)};
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(windowObjectCleared),
                   nullptr);
}
