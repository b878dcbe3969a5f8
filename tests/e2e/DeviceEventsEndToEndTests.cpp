// Device events in the real web view, driven the way a developer drives
// them: through `tavero device` (and `tavero open-url`) and the shell's
// control socket. The page (device-app) reports everything it hears.
#include <sys/stat.h>

#include <iostream>

#include "app/DeviceCommandCatalogue.h"
#include "e2e/EndToEndFixture.h"
#include "host/PauseDrain.h"

namespace tavero::app::e2e {
namespace {

class DeviceEventsEndToEnd : public EndToEndTest {
 protected:
  std::unique_ptr<ShellApplication> launchDeviceApp() {
    auto shell = makeShell("device-app", [this](ShellApplication::Settings& settings) {
      settings.push = platform::PushSettings{.token = std::vector<uint8_t>{0x0a, 0xbc, 0x12, 0xef}, .failure = {}};
      settings.runningShellsFolder = runtime() / "tavero";
    });
    EXPECT_TRUE(shell->launch());
    auto ready = waitForState(*shell, [](const json::Object& state) { return isTrue(state, "ready"); });
    EXPECT_TRUE(ready) << "the page never got ready";
    return shell;
  }

  // Serves the main loop until the page reports a state that `condition`
  // accepts; the last state it reported otherwise.
  std::optional<json::Object> waitForState(ShellApplication& shell,
                                           const std::function<bool(const json::Object&)>& condition) {
    std::optional<json::Object> state;
    bool met = serveUntil(shell, [&] {
      if (probe_) state = probe_->verdict();
      return state && condition(*state);
    });
    if (!met) ADD_FAILURE() << "last state: " << (state ? text(*state) : std::string("none"));
    return met ? state : std::nullopt;
  }

  static bool isTrue(const json::Object& state, const char* key) {
    const json::Value* value = state.find(key);
    return value && *value == json::Value(true);
  }
  static size_t countOf(const json::Object& state, const char* key) {
    const json::Value* value = state.find(key);
    return value && value->isArray() ? value->asArray().size() : 0;
  }

  fs::path runtime() const { return home_.string() + "-runtime"; }
  void TearDown() override {
    fs::remove_all(runtime());
    EndToEndTest::TearDown();
  }
};

// Whether the bridge serves the pages (in the background it keeps its port
// but refuses every connection and every channel message).
bool bridgeListens(ShellApplication& shell) { return shell.bridge().isServing(); }

TEST_F(DeviceEventsEndToEnd, APageHearsPauseBeforeTheBridgeClosesAndResumeAfterItListensAgain) {
  auto shell = launchDeviceApp();
  struct stat info {};
  ASSERT_EQ(::stat((home_ / "control.sock").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // The running app lists the commands that `tavero device help` lists without one.
  CommandOutput help = device(*shell, {"help"});
  EXPECT_EQ(help.exitStatus, 0) << help.err;
  EXPECT_EQ(help.out, DeviceCommandCatalogue().helpText());

  CommandOutput background = device(*shell, {"app", "background"});
  EXPECT_EQ(background.exitStatus, 0) << background.err;
  EXPECT_FALSE(bridgeListens(*shell));
  CommandOutput again = device(*shell, {"app", "background"});
  EXPECT_EQ(again.exitStatus, 1);
  EXPECT_NE(again.err.find("already in the background"), std::string::npos) << again.err;

  CommandOutput foreground = device(*shell, {"app", "foreground"});
  EXPECT_EQ(foreground.exitStatus, 0) << foreground.err;
  auto state = waitForState(*shell, [](const json::Object& s) { return s.find("resumeCall")->isBool(); });
  ASSERT_TRUE(state);
  EXPECT_EQ(*state->find("events"), json::Value(json::Array{"pause", "resume"})) << text(*state);
  EXPECT_TRUE(isTrue(*state, "resumeCall")) << text(*state);

  // The same commands run in process.
  EXPECT_TRUE(shell->controlCommands().run({"app", "background"}).ok());
  EXPECT_TRUE(shell->controlCommands().run({"app", "foreground"}).ok());
  state = waitForState(*shell, [](const json::Object& s) { return countOf(s, "events") == 4; });
  ASSERT_TRUE(state);

  shell->terminate();
  shell.reset();
  EXPECT_FALSE(fs::exists(home_ / "control.sock"));
}

// A pause handler that saves: its SQL transaction and file writes (each a
// chain of calls and callbacks) are served before the bridge stops; a call
// made once it stopped is refused, queued or blocking, with status 503.
TEST_F(DeviceEventsEndToEnd, APauseHandlerSavesARowAndAFileBeforeTheBridgeStops) {
  auto shell = makeShell("pause-app", [this](ShellApplication::Settings& settings) {
    settings.runningShellsFolder = runtime() / "tavero";
  });
  ASSERT_TRUE(shell->launch());
  ASSERT_TRUE(waitForState(*shell, [](const json::Object& state) { return isTrue(state, "ready"); }));

  auto started = std::chrono::steady_clock::now();
  CommandOutput background = device(*shell, {"app", "background"});
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  EXPECT_EQ(background.exitStatus, 0) << background.err;
  EXPECT_NE(background.out.find("the bridge stopped"), std::string::npos) << background.out;
  EXPECT_FALSE(bridgeListens(*shell));
  std::cout << "[ figures  ] app background with a saving pause handler: " << took.count() << " ms: "
            << background.out;
  // Saved while the app went to the background, before anything resumed it.
  bool fileWritten = false;
  for (const auto& entry : fs::recursive_directory_iterator(home_))
    if (entry.path().filename() == "draft.txt") fileWritten = fs::file_size(entry.path()) == 7;
  EXPECT_TRUE(fileWritten);

  shell->mainThread().runFor(std::chrono::milliseconds(2500));  // the page's late calls happen meanwhile
  ASSERT_EQ(device(*shell, {"app", "foreground"}).exitStatus, 0);
  auto state = waitForState(*shell, [](const json::Object& s) { return s.find("file")->isString(); });
  ASSERT_TRUE(state);
  EXPECT_EQ(*state->find("saved"), json::Value("draft 1")) << text(*state);
  EXPECT_EQ(*state->find("row"), json::Value("draft 1")) << text(*state);
  EXPECT_EQ(*state->find("file"), json::Value("draft 1")) << text(*state);
  for (const char* late : {"lateSend", "lateSync"}) {
    EXPECT_TRUE(state->find(late)->isNumber() && state->find(late)->toInt64() == 503) << late << ": " << text(*state);
  }
  shell->terminate();
}

// Without a page that watches, the bridge stops after the quiet time alone.
TEST_F(DeviceEventsEndToEnd, WithoutPauseHandlersTheBridgeStopsAtOnce) {
  auto shell = makeShell("bridge-app", [this](ShellApplication::Settings& settings) {
    settings.runningShellsFolder = runtime() / "tavero";
  });
  ASSERT_TRUE(shell->launch());
  auto started = std::chrono::steady_clock::now();
  CommandOutput background = device(*shell, {"app", "background"});
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  EXPECT_EQ(background.exitStatus, 0) << background.err;
  EXPECT_FALSE(bridgeListens(*shell));
  EXPECT_LT(took, host::PauseDrain::kLimit);
  std::cout << "[ figures  ] app background without pause handlers: " << took.count() << " ms: " << background.out;
  shell->terminate();
}

TEST_F(DeviceEventsEndToEnd, APageRegistersForPushAndReceivesADeliveredPayloadWithTheBadgeCleared) {
  auto shell = launchDeviceApp();
  auto state = probe_->verdict();
  ASSERT_TRUE(state);
  EXPECT_EQ(*state->find("token"), json::Value("0abc12ef")) << text(*state);

  // Text that would break out of a script or a string, and JSON-looking text.
  std::string payload = R"({"aps": {"alert": "Hi", "badge": 3}, "note": "</script><b>'\"\u2028", "raw": "{\"a\":1}"})";
  CommandOutput delivered = device(*shell, {"push", "deliver", payload});
  EXPECT_EQ(delivered.exitStatus, 0) << delivered.err;
  state = waitForState(*shell, [](const json::Object& s) { return countOf(s, "payloads") == 1; });
  ASSERT_TRUE(state);
  const json::Object& received = state->find("payloads")->asArray().front().asObject();
  EXPECT_EQ(*received.find("note"), json::Value("</script><b>'\"\u2028"));
  EXPECT_EQ(*received.find("raw"), json::Value("{\"a\":1}"));
  CommandOutput badge = device(*shell, {"events", "badge"});
  EXPECT_EQ(badge.out, "0\n") << badge.err;

  CommandOutput notAnObject = device(*shell, {"push", "deliver", "[1]"});
  EXPECT_EQ(notAnObject.exitStatus, 1);
  shell->terminate();
}

TEST_F(DeviceEventsEndToEnd, APageShowsAnAlertAndReceivesThePressedButtonsTitle) {
  auto shell = launchDeviceApp();
  ASSERT_EQ(device(*shell, {"url", "open", "deviceapp://alert"}).exitStatus, 0);
  ASSERT_TRUE(serveUntil(*shell, [&] {
    auto open = shell->controlCommands().run({"alert", "list"});
    return open.ok() && !open.value().asArray().empty();
  }));
  CommandOutput list = device(*shell, {"alert", "list"});
  EXPECT_NE(list.out.find("\"Save changes?\""), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("[\"Save\", \" Discard\"]"), std::string::npos) << list.out;

  CommandOutput outOfRange = device(*shell, {"alert", "press", "2"});
  EXPECT_EQ(outOfRange.exitStatus, 1);
  EXPECT_NE(outOfRange.err.find("INDEX goes from 0 to 1"), std::string::npos) << outOfRange.err;

  CommandOutput pressed = device(*shell, {"alert", "press", "1"});
  EXPECT_EQ(pressed.exitStatus, 0) << pressed.err;
  auto state = waitForState(*shell, [](const json::Object& s) { return s.find("alert")->isString(); });
  ASSERT_TRUE(state);
  EXPECT_EQ(*state->find("alert"), json::Value(" discard"));
  EXPECT_EQ(device(*shell, {"alert", "press", "0"}).exitStatus, 1);  // nothing is open any more
  shell->terminate();
}

TEST_F(DeviceEventsEndToEnd, OpenURLReachesTheRunningAppsWatchingPageAndDeviceScheme) {
  auto shell = launchDeviceApp();
  std::string runtimeVariable = "XDG_RUNTIME_DIR=" + runtime().string();
  CommandOutput opened = runTavero(*shell, {"open-url", "DeviceApp://note/42?x='1'", "--from", "org.example.mail"},
                                   {runtimeVariable});
  EXPECT_EQ(opened.exitStatus, 0) << opened.err;
  auto state = waitForState(*shell, [](const json::Object& s) { return countOf(s, "urls") == 1; });
  ASSERT_TRUE(state);
  const json::Object& url = state->find("urls")->asArray().front().asObject();
  EXPECT_EQ(*url.find("url"), json::Value("DeviceApp://note/42?x='1'"));
  EXPECT_EQ(*url.find("sourceApplication"), json::Value("org.example.mail"));
  EXPECT_EQ(*url.find("schemeGetter"), json::Value("DeviceApp://note/42?x='1'"));
  EXPECT_EQ(*url.find("schemeSource"), json::Value("org.example.mail"));

  // Without --from, the source is empty text. A scheme nobody owns fails.
  EXPECT_EQ(runTavero(*shell, {"open-url", "deviceapp://vibrate"}, {runtimeVariable}).exitStatus, 0);
  state = waitForState(*shell, [](const json::Object& s) { return countOf(s, "urls") == 2; });
  ASSERT_TRUE(state);
  EXPECT_EQ(*state->find("urls")->asArray().back().asObject().find("sourceApplication"), json::Value(""));
  CommandOutput nobody = runTavero(*shell, {"open-url", "nobodys://x"}, {runtimeVariable, "XDG_DATA_HOME=" + home_.string()});
  EXPECT_EQ(nobody.exitStatus, 1);
  EXPECT_NE(nobody.err.find("no app opens nobodys: URLs"), std::string::npos) << nobody.err;

  CommandOutput notAURL = device(*shell, {"url", "open", "no scheme\n<script>"});
  EXPECT_EQ(notAURL.exitStatus, 1);
  EXPECT_NE(notAURL.err.find("URL must be a URL"), std::string::npos) << notAURL.err;

  // The page vibrated once; pages may open web pages but not files or scripts.
  ASSERT_TRUE(serveUntil(*shell, [&] { return shell->vibrations().vibrations().size() == 1; }));
  CommandOutput vibrations = device(*shell, {"events", "vibrations"});
  EXPECT_NE(vibrations.out.find("\"time\""), std::string::npos) << vibrations.out;
  ASSERT_EQ(device(*shell, {"url", "open", "deviceapp://open-links"}).exitStatus, 0);
  ASSERT_TRUE(serveUntil(*shell, [&] { return !shell->openedURLs().openedURLs().empty(); }));
  state = waitForState(*shell, [](const json::Object& s) { return countOf(s, "urls") == 3; });
  auto openedURLs = shell->openedURLs().openedURLs();
  ASSERT_EQ(openedURLs.size(), 1u);
  EXPECT_EQ(openedURLs.front().url, "https://example.org/help?q=a%20b");
  shell->terminate();
}

}  // namespace
}  // namespace tavero::app::e2e
