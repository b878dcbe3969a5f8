// The scripts the shell runs in a page without wanting their value
// (callbacks, page commands): through the web process extension, and
// through WebKit when the extension is switched off. Both run the script in
// the app's document as one of its own scripts (its promise reactions and
// its errors), in order and with its text intact, and log what threw.
#include <cstdlib>

#include "e2e/EndToEndFixture.h"
#include "support/CapturedLog.h"

namespace tavero::app::e2e {
namespace {

struct ScriptRoad {
  const char* name;
  bool extensionOff;
};

void PrintTo(const ScriptRoad& road, std::ostream* out) { *out << road.name; }

class ShellScriptsEndToEnd : public EndToEndTest, public ::testing::WithParamInterface<ScriptRoad> {
 protected:
  void SetUp() override {
    if (GetParam().extensionOff) ::setenv("TAVERO_WEB_EXTENSION", "off", 1);
    EndToEndTest::SetUp();
  }
  void TearDown() override {
    EndToEndTest::TearDown();
    ::unsetenv("TAVERO_WEB_EXTENSION");
  }

  // The value of `expression` in the page as JSON text, or why there is none.
  std::string valueIn(ShellApplication& shell, const std::string& expression) {
    std::optional<platform::ScriptResult> result;
    shell.engine().webEngineView()->platformView().evaluateForResult(
        expression, {}, [&](platform::ScriptResult answer) { result = std::move(answer); });
    if (!serveUntil(shell, [&] { return result.has_value(); }, std::chrono::seconds(10))) return "<no answer>";
    return result->kind == platform::ScriptResult::Kind::Value ? result->text : "<" + result->text + ">";
  }
};

TEST_P(ShellScriptsEndToEnd, ScriptsRunAsThePagesOwnScriptsWouldInOrderWithTheirTextIntact) {
  testing::CapturedLog log;
  auto shell = makeShell("script-app");
  ASSERT_TRUE(shell->launch());
  platform::WebView& page = shell->engine().webEngineView()->platformView();

  // The promise reactions a script queues run as it ends, before the next
  // script; errors reach the page's handlers (by their kind: the messages
  // are the engine's).
  page.evaluateScript(
      "window.onerror = (message) => window.ranScripts.push('onerror ' + String(message).split(':')[0]);"
      "Promise.resolve().then(() => { window.ranScripts.push('microtask'); window.reportError(new Error('x')); })");
  page.evaluateScript("window.ranScripts.push('next')");
  for (int i = 0; i < 20; ++i) page.evaluateScript("window.ranScripts.push(" + std::to_string(i) + ")");
  // Text beyond ASCII, a line break and a quote survive the road; the script
  // is an expression statement whose value is not a boolean.
  page.evaluateScript("window.ranScripts.push('\u00e9t\u00e9 \u2603\\n\"'); 42");
  page.evaluateScript("throw new Error('thrown by a shell script')");
  page.evaluateScript("window.ranScripts.push('after the exception')");
  page.evaluateScript("this is not JavaScript");
  // The extension's road gives no user activation the user did not give
  // (WebKit's own evaluation pretends a user gesture for every script).
  if (!GetParam().extensionOff) page.evaluateScript("window.ranScripts.push(navigator.userActivation.isActive)");

  std::string expected = "[\"microtask\",\"onerror Error\",\"next\"";
  for (int i = 0; i < 20; ++i) expected += "," + std::to_string(i);
  expected += ",\"\u00e9t\u00e9 \u2603\\n\\\"\",\"onerror Error\",\"after the exception\",\"onerror SyntaxError\"";
  expected += GetParam().extensionOff ? "]" : ",false]";
  EXPECT_TRUE(serveUntil(*shell, [&] { return valueIn(*shell, "window.ranScripts") == expected; },
                         std::chrono::seconds(10)))
      << valueIn(*shell, "window.ranScripts");
  // The shell's log names what threw, with the page.
  EXPECT_TRUE(serveUntil(*shell, [&] { return log.containing("a script failed").size() == 2; }, std::chrono::seconds(10)))
      << log.all();
  auto failures = log.containing("a script failed");
  ASSERT_EQ(failures.size(), 2u) << log.all();
  EXPECT_NE(failures[0].find("thrown by a shell script"), std::string::npos) << failures[0];
  EXPECT_NE(failures[0].find("page index.html"), std::string::npos) << failures[0];
  EXPECT_NE(failures[1].find("SyntaxError"), std::string::npos) << failures[1];
  shell->terminate();
}

TEST_P(ShellScriptsEndToEnd, AfterAReloadScriptsRunInTheNewDocument) {
  auto shell = makeShell("script-app");
  ASSERT_TRUE(shell->launch());
  platform::WebView& page = shell->engine().webEngineView()->platformView();
  page.evaluateScript("window.ranScripts.push('old document')");
  ASSERT_TRUE(serveUntil(*shell, [&] { return valueIn(*shell, "window.ranScripts") == "[\"old document\"]"; },
                         std::chrono::seconds(10)));

  for (int reload = 1; reload <= 2; ++reload) {
    page.evaluateScript("window.reloadedFrom = location.href; location.reload()");
    ASSERT_TRUE(serveUntil(*shell, [&] { return valueIn(*shell, "window.reloadedFrom === undefined && document.readyState") == "\"complete\""; },
                           std::chrono::seconds(10)));
    const std::string mark = "new document " + std::to_string(reload);
    page.evaluateScript("window.ranScripts.push('" + mark + "')");
    EXPECT_TRUE(serveUntil(*shell, [&] { return valueIn(*shell, "window.ranScripts") == "[\"" + mark + "\"]"; },
                           std::chrono::seconds(10)))
        << valueIn(*shell, "window.ranScripts");
  }
  shell->terminate();
}

// A page may replace EventTarget and Event before the shell's first script
// in it, keep the listener the extension's road adds and call it whenever it
// likes: each script still runs exactly once, and calls outside a script's
// turn run nothing.
TEST_P(ShellScriptsEndToEnd, APageThatTakesTheRunnersListenerGetsEachScriptOnce) {
  auto shell = makeShell("script-app");
  ASSERT_TRUE(shell->launch());
  platform::WebView& page = shell->engine().webEngineView()->platformView();
  ASSERT_EQ(valueIn(*shell,
                    "(window.kept = [],"
                    " window.EventTarget = class { addEventListener(type, listener) { window.kept.push(listener); }"
                    "                              dispatchEvent() { window.kept.forEach((f) => { f(); f(); }); return true; } },"
                    " window.Event = class {}, 1)"),
            "1");
  page.evaluateScript("window.ranScripts.push('first')");
  page.evaluateScript("window.ranScripts.push('second')");
  EXPECT_TRUE(serveUntil(*shell, [&] { return valueIn(*shell, "window.ranScripts") == "[\"first\",\"second\"]"; },
                         std::chrono::seconds(10)))
      << valueIn(*shell, "window.ranScripts");
  if (!GetParam().extensionOff) {
    EXPECT_EQ(valueIn(*shell, "window.kept.length"), "1");  // the road took the page's class
  }
  EXPECT_EQ(valueIn(*shell, "(window.kept.forEach((f) => f()), window.ranScripts.length)"), "2");
  page.evaluateScript("window.ranScripts.push('third')");
  EXPECT_TRUE(serveUntil(*shell, [&] { return valueIn(*shell, "window.ranScripts.length") == "3"; },
                         std::chrono::seconds(10)))
      << valueIn(*shell, "window.ranScripts");
  shell->terminate();
}

INSTANTIATE_TEST_SUITE_P(Roads, ShellScriptsEndToEnd,
                         ::testing::Values(ScriptRoad{"WebProcessExtension", false}, ScriptRoad{"WebKit", true}),
                         [](const ::testing::TestParamInfo<ScriptRoad>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavero::app::e2e
