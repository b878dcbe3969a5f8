// The page client in the real web view: exceptions thrown by a page's
// callbacks reach the page and the shell's log the way an exception in an
// event handler does, and calls with wrong argument types fail at once.
#include <algorithm>

#include "e2e/EndToEndFixture.h"
#include "support/CapturedLog.h"

namespace tavero::app::e2e {
namespace {

using PageClientEndToEnd = EndToEndTest;

std::vector<std::string> textsIn(const json::Object& verdict, const char* key) {
  std::vector<std::string> texts;
  const json::Value* list = verdict.find(key);
  if (!list || !list->isArray()) return texts;
  for (const auto& item : list->asArray()) texts.push_back(item.isString() ? item.asString() : "<not text>");
  return texts;
}

bool anyContains(const std::vector<std::string>& texts, const std::string& part) {
  return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return t.find(part) != std::string::npos; });
}

TEST_F(PageClientEndToEnd, ExceptionsInCallbacksReachThePageAndTheLogAndLaterCallbacksStillRun) {
  testing::CapturedLog log;
  auto shell = makeShell("throwing-app");
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict) << "the page never reported\n" << log.all();

  const auto ran = textsIn(*verdict, "ran");
  EXPECT_FALSE(anyContains(ran, "wrong")) << text(*verdict);
  for (const char* step : {"files success", "files error", "first watcher", "second watcher", "echo", "echo after"})
    EXPECT_TRUE(anyContains(ran, step)) << step << " did not run: " << text(*verdict);

  const auto errors = textsIn(*verdict, "errors");
  const char* thrown[] = {"thrown by a files success callback", "thrown by a files error callback",
                          "thrown by the first watcher", "thrown by an echo callback"};
  for (const char* message : thrown) {
    EXPECT_TRUE(anyContains(errors, message)) << message << " never reached window.onerror: " << text(*verdict);
    // Forwarded by the page's console with the page's name, as any uncaught error.
    EXPECT_TRUE(serveUntil(*shell, [&] { return log.has(message); }, std::chrono::seconds(5)))
        << message << "\n" << log.all();
    for (const auto& line : log.containing(message)) EXPECT_NE(line.find("[index.html] uncaught"), std::string::npos) << line;
  }
  EXPECT_FALSE(log.has("a script failed")) << log.all();

  const auto typeErrors = textsIn(*verdict, "typeErrors");
  ASSERT_EQ(typeErrors.size(), 4u) << text(*verdict);
  EXPECT_EQ(typeErrors[0].rfind("cordova order: requestFileSystem: takes (success, error)", 0), 0u) << typeErrors[0];
  EXPECT_EQ(typeErrors[1],
            "error callback: requestFileSystem: the error callback must be a function or null, not the string "
            "\"not a function\"");
  EXPECT_EQ(typeErrors[2], "watcher: connection.watch: the watcher must be a function, not an object");
  EXPECT_EQ(typeErrors[3], "parent: Entry.moveTo: parent must be a DirectoryEntry, not /elsewhere");
  shell->terminate();
}

}  // namespace
}  // namespace tavero::app::e2e
