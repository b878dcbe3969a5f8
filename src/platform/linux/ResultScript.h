// A script the shell runs in a page for its result (`tavero device page
// eval`, `page wait`): the body of the async function WebKit runs, and what
// its answer means.
//
// The script is taken as an expression when it is one, else as the body of
// an async function (its `return` gives the value); the choice is made here
// by checking the syntax with JavaScriptCore, so the page runs it once. The
// function runs only in a document that holds the view's document key (the
// bundle's own documents), turns the value into JSON in the page and refuses
// a result longer than the limit there, before it is sent to the shell.
//
// Thread rules: main thread (the syntax check uses one JavaScriptCore
// context kept for the process).
#pragma once

#include <cstddef>
#include <string>
#include <variant>

#include "platform/WebView.h"

typedef struct _JSCValue JSCValue;

namespace tavero::platform {

class ResultScript {
 public:
  // The function body for `script`, or the Invalid result saying why it is
  // not JavaScript. `bundleDocumentCheck` is a JavaScript condition that
  // holds only in the bundle's documents; empty runs it in any document.
  static std::variant<std::string, ScriptResult> functionBody(const std::string& script,
                                                              const std::string& bundleDocumentCheck,
                                                              size_t maxResultLength);

  // What the function's answer (a string it returned) means; `documentURL`
  // names the document for the message when it is not the app's.
  static ScriptResult answer(const std::string& returned, size_t maxResultLength, const std::string& documentURL);

  // The syntax error in `source` (a script), or empty when there is none.
  static std::string syntaxError(const std::string& source);
};

}  // namespace tavero::platform
