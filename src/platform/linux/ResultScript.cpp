#include "platform/linux/ResultScript.h"

#include <jsc/jsc.h>

#include "platform/linux/SubresourceLoadLog.h"

namespace tavero::platform {
namespace {

// The first character of the function's answer says what the rest is.
constexpr char kValue = 'V';      // JSON text follows
constexpr char kTooLong = 'L';    // the JSON text's length follows
constexpr char kNotTheApps = 'N';  // the document is not one of the bundle's

std::string wrappedInAsyncFunction(const std::string& body) { return "(async () => {\n" + body + "\n})"; }

std::string expressionBody(const std::string& script) { return "return (\n" + script + "\n);"; }

}  // namespace

std::string ResultScript::syntaxError(const std::string& source) {
  // One context for the process: checking syntax needs no page, and a
  // context costs a virtual machine.
  static JSCContext* context = jsc_context_new();
  JSCException* exception = nullptr;
  JSCCheckSyntaxResult result = jsc_context_check_syntax(context, source.data(), static_cast<gssize>(source.size()),
                                                         JSC_CHECK_SYNTAX_MODE_SCRIPT, nullptr, 1, &exception);
  if (result == JSC_CHECK_SYNTAX_RESULT_SUCCESS) {
    if (exception) g_object_unref(exception);
    return {};
  }
  std::string message = "the script is not valid JavaScript";
  if (exception) {
    const char* text = jsc_exception_get_message(exception);
    // Line 1 is the wrapper's; the script's first line is line 2.
    unsigned line = jsc_exception_get_line_number(exception);
    if (text) message = std::string(text) + (line > 1 ? " (line " + std::to_string(line - 1) + ")" : "");
    g_object_unref(exception);
  }
  return message;
}

std::variant<std::string, ScriptResult> ResultScript::functionBody(const std::string& script,
                                                                   const std::string& bundleDocumentCheck,
                                                                   size_t maxResultLength) {
  std::string body = expressionBody(script);
  if (!syntaxError(wrappedInAsyncFunction(body)).empty()) {
    body = script;
    std::string error = syntaxError(wrappedInAsyncFunction(body));
    if (!error.empty()) return ScriptResult{ScriptResult::Kind::Invalid, error};
  }
  std::string function;
  if (!bundleDocumentCheck.empty())
    function += "if (!(" + bundleDocumentCheck + ")) return '" + kNotTheApps + "';\n";
  function += "const value = await " + wrappedInAsyncFunction(body) + "();\n";
  function += "const text = JSON.stringify(value === undefined ? null : value);\n";
  function += "if (text === undefined) return '" + std::string(1, kValue) + "null';\n";
  function += "if (text.length > " + std::to_string(maxResultLength) + ") return '" + kTooLong + "' + text.length;\n";
  function += "return '" + std::string(1, kValue) + "' + text;";
  return function;
}

ScriptResult ResultScript::answer(const std::string& returned, size_t maxResultLength,
                                  const std::string& documentURL) {
  using Kind = ScriptResult::Kind;
  if (returned.empty()) return {Kind::Unavailable, "the page gave no answer"};
  std::string rest = returned.substr(1);
  switch (returned.front()) {
    case kValue:
      if (rest.size() > maxResultLength)
        return {Kind::Unavailable, "the result is longer than " + std::to_string(maxResultLength) + " characters"};
      return {Kind::Value, rest};
    case kTooLong:
      return {Kind::Unavailable, "the result is " + rest + " characters of JSON; at most " +
                                     std::to_string(maxResultLength) + " are returned"};
    case kNotTheApps:
      return {Kind::Unavailable, "the page shows a document that is not the app's (" + urlForLog(documentURL) +
                                     "): scripts run only in the app's own documents"};
    default:
      break;
  }
  return {Kind::Unavailable, "the page's answer is not one the shell gave it"};
}

}  // namespace tavero::platform
