// One script the shell runs in a view's main frame without wanting its
// value back (callbacks, page commands' scripts): it is handed to the web
// process extension as a message when the view's web processes have it, and
// evaluated by WebKit otherwise. Scripts that threw, and scripts a gated
// document declined (it is not the bundle's), are logged.
//
// The extension's road keeps a JavaScript engine out of the shell's own
// process: WebKit turns every evaluation's result into a JSCValue there,
// and the first one starts a virtual machine (several MB) for good.
//
// Thread rules: main thread only.
#pragma once

#include <string>

typedef struct _WebKitWebView WebKitWebView;

namespace tavero::platform {

class PageScriptRun {
 public:
  // The message the extension answers (src/webextension/PageScripts.cpp):
  // parameter "ay", the script's text; reply "(bs)", whether the script's value was
  // false (a gated document declined it) and the exception it threw, if any.
  static constexpr const char* kMessageName = "tavero.run-script";

  struct Script {
    std::string pageName;  // for the log
    std::string source;
    bool gated = false;  // the script answers false in a document that is not the bundle's
    bool throughExtension = false;  // the view's web processes load the extension
  };

  static void start(WebKitWebView* view, Script script);
};

}  // namespace tavero::platform
