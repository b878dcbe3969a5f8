// Runs the scripts the shell sends a page as a message (callbacks, page
// commands' scripts) in the page's main frame, and answers whether the
// script's value was false (a gated document declined it) and what it threw.
// The shell's side is src/platform/linux/PageScriptRun: evaluating them here
// rather than through WebKit keeps a JavaScript engine out of the shell's
// process, where WebKit would turn each result into a JSCValue.
#pragma once

typedef struct _WebKitWebExtension WebKitWebExtension;

namespace tavero::webextension {

class PageScripts {
 public:
  static constexpr const char* kMessageName = "tavero.run-script";

  // Answers the message in every page the extension's process makes.
  static void serve(WebKitWebExtension* extension);
};

}  // namespace tavero::webextension
