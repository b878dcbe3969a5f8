// Page calls through the shell's web process extension, in the real web
// view: bundle documents take that road for queued and synchronous calls,
// no other frame gets its function, and with the extension switched off
// pages take the message channel as before.
#include <unistd.h>

#include <cstdlib>

#include "EndToEndFixture.h"

namespace tavero::app::e2e {
namespace {

class NativeCallsEndToEnd : public EndToEndTest {
 protected:
  void TearDown() override {
    ::unsetenv("TAVERO_WEB_EXTENSION");
    ::unsetenv("WEBKIT_FORCE_SANDBOX");
    EndToEndTest::TearDown();
  }

  static std::string member(const json::Object& verdict, const char* key) {
    const json::Value* value = verdict.find(key);
    if (!value) return "(missing)";
    return value->isString() ? value->asString() : text(json::Object{}) + "(not text)";
  }

  // The calls of every kind the page made, answered on whichever road.
  static void expectCallsAnswered(const json::Object& verdict) {
    const json::Value* queued = verdict.find("queued");
    EXPECT_TRUE(queued && *queued == json::Value(true)) << text(verdict);
    EXPECT_EQ(member(verdict, "sync"), "sync");
    EXPECT_EQ(member(verdict, "sendSync"), "blocking ünïcode");
    EXPECT_EQ(member(verdict, "callback"), "back");
    // An unknown operation: the shell's 404, as SHELL_UNAVAILABLE (1000).
    EXPECT_EQ(member(verdict, "unknown"), "1000 404");
    EXPECT_EQ(member(verdict, "unknownSync"), "1000 404");
  }
};

TEST_F(NativeCallsEndToEnd, BundleDocumentsCallThroughTheExtensionAndNoOtherFrameGetsItsFunction) {
  auto shell = makeShell("native-app");
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict) << "the page never reported";
  EXPECT_EQ(member(*verdict, "road"), "native") << text(*verdict);
  EXPECT_EQ(member(*verdict, "roadAfter"), "native") << text(*verdict);
  expectCallsAnswered(*verdict);
  // The page client took the function off the window before the page ran.
  EXPECT_EQ(member(*verdict, "nativeLeftOnWindow"), "undefined");
  EXPECT_EQ(member(*verdict, "blankFrame"), "undefined");
  const json::Value* frames = verdict->find("frames");
  ASSERT_TRUE(frames && frames->isObject()) << text(*verdict);
  for (const char* frame : {"data", "blob", "srcdoc"}) {
    const json::Value* native = frames->asObject().find(frame);
    EXPECT_TRUE(native && *native == json::Value("undefined")) << frame << " in " << text(*verdict);
  }
  shell->terminate();
}

// WebKit's bubblewrap sandbox shows the web process only some folders: the
// socket's must be among them.
TEST_F(NativeCallsEndToEnd, InsideTheWebProcessSandboxPagesStillCallThroughTheExtension) {
  if (std::system("bwrap --ro-bind / / true >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "bubblewrap cannot run here";
  ::setenv("WEBKIT_FORCE_SANDBOX", "1", 1);
  auto shell = makeShell("native-app");
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict) << "the page never reported";
  EXPECT_EQ(member(*verdict, "roadAfter"), "native") << text(*verdict);
  expectCallsAnswered(*verdict);
  shell->terminate();
}

TEST_F(NativeCallsEndToEnd, WithTheExtensionSwitchedOffPagesCallOnTheMessageChannel) {
  ::setenv("TAVERO_WEB_EXTENSION", "off", 1);
  auto shell = makeShell("native-app");
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict) << "the page never reported";
  EXPECT_EQ(member(*verdict, "road"), "channel") << text(*verdict);
  expectCallsAnswered(*verdict);
  shell->terminate();
}

TEST_F(NativeCallsEndToEnd, WhenTheExtensionCannotReachTheShellCallsGoOnTheChannelAndHTTP) {
  // Short: a socket's path has room for 107 bytes.
  const fs::path runtime = fs::temp_directory_path() / ("tavero-rt-" + std::to_string(::getpid()));
  auto shell = makeShell("native-app", [&](ShellApplication::Settings& settings) {
    settings.runningShellsFolder = runtime;
  });
  // The extension is loaded and the page gets its function, but the socket
  // is gone: the first call finds out, and every call still gets through.
  const fs::path socket = runtime / ("calls-" + std::to_string(::getpid()) + ".sock");
  ASSERT_TRUE(fs::exists(socket));
  fs::remove(socket);
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict) << "the page never reported";
  EXPECT_EQ(member(*verdict, "road"), "native") << text(*verdict);
  EXPECT_EQ(member(*verdict, "roadAfter"), "channel") << text(*verdict);
  expectCallsAnswered(*verdict);
  shell->terminate();
  shell.reset();
  fs::remove_all(runtime);
}

}  // namespace
}  // namespace tavero::app::e2e
