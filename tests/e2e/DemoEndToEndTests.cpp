// The demo app (examples/demo), a newcomer's first sight of the shell: every
// card shows its service's live value, and follows the device as the
// commands printed on the cards play it.
#include <cstdlib>
#include <functional>

#include "e2e/EndToEndFixture.h"
#include "host/TQEngine.h"

namespace tavero::app::e2e {
namespace {

using DemoEndToEnd = EndToEndTest;

// Reads what every card shows and reports it through the probe.
constexpr const char* kReadCards = R"((() => {
  const cards = {};
  for (const id of ['platform', 'position', 'motion', 'network', 'alert', 'camera', 'vibration', 'notes',
                    'journal-status'])
    cards[id] = document.getElementById(id).textContent;
  cards.photo = document.getElementById('photo').getAttribute('src') || '';
  cards.bubble = document.getElementById('bubble').style.transform;
  Kio.device.Communicator.send('Probe#verdict', {verdict: cards});
})())";

using CardReader = std::function<std::optional<json::Object>()>;

// Reads the cards until card `id` shows text containing `expected`.
::testing::AssertionResult cardShows(const CardReader& read, const char* id, const std::string& expected) {
  std::string seen;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    auto cards = read();
    const json::Value* value = cards ? cards->find(id) : nullptr;
    seen = value && value->isString() ? value->asString() : "(no card)";
    if (seen.find(expected) != std::string::npos) return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "card " << id << " shows \"" << seen << "\", not \"" << expected << "\"";
}

TEST_F(DemoEndToEnd, EveryCardShowsItsServiceAndFollowsTheCommandsOnIt) {
  setenv("GSETTINGS_BACKEND", "memory", 1);  // GTK dialogs keep settings; no session bus here
  auto shell = makeShell(TAVERO_DEMO_DIR);
  ASSERT_TRUE(shell->launch());
  platform::WebView& page = shell->engine().webEngineView()->platformView();
  CardReader read = [&]() -> std::optional<json::Object> {
    if (probe_) probe_->clearVerdict();  // made at the first call
    page.evaluateScript(kReadCards);
    return waitForVerdict(*shell, std::chrono::seconds(2));
  };
  auto command = [&](std::vector<std::string> words) {
    auto answer = shell->controlCommands().run(words);
    EXPECT_TRUE(answer.ok()) << (answer.ok() ? "" : answer.errorMessage());
  };
  auto click = [&](const std::string& button) { page.evaluateScript("document.getElementById('" + button + "').click()"); };

  // What the page shows at once: the machine, SQL and the file system.
  EXPECT_TRUE(cardShows(read, "platform", "Tavero on iPhone 4S"));  // the fixture's profile names the model
  EXPECT_TRUE(cardShows(read, "notes", "Opened the demo"));
  EXPECT_TRUE(cardShows(read, "journal-status", "journal.txt is empty"));
  EXPECT_TRUE(cardShows(read, "network", "line"));  // Online or Offline: the machine's own status

  command({"geo", "fix", "52.52", "13.405"});
  EXPECT_TRUE(cardShows(read, "position", "52.5200, 13.4050"));
  command({"sensor", "accel", "0.5", "0", "-0.87"});
  EXPECT_TRUE(cardShows(read, "motion", "x 0.50"));
  EXPECT_TRUE(cardShows(read, "bubble", "translate(-20px, 0px)"));  // towards the high side
  command({"network", "none"});
  EXPECT_TRUE(cardShows(read, "network", "Offline"));
  command({"network", "wifi"});
  EXPECT_TRUE(cardShows(read, "network", "Online"));

  click("alert-button");
  ASSERT_TRUE(serveUntil(*shell, [&] {
    auto open = shell->controlCommands().run({"alert", "list"});
    return open.ok() && !open.value().asArray().empty();
  }));
  command({"alert", "press", "0"});
  EXPECT_TRUE(cardShows(read, "alert", "You pressed \"yes\""));

  click("camera-button");
  ASSERT_TRUE(serveUntil(*shell, [&] {
    auto status = shell->controlCommands().run({"picker", "status"});
    return status.ok() && status.value() == json::Value("camera");
  }));
  command({"picker", "pick"});
  EXPECT_TRUE(cardShows(read, "photo", "file://" + (home_ / "Documents" / "image-").string()));

  click("vibrate-button");
  EXPECT_TRUE(cardShows(read, "vibration", "Vibrated 1 time"));
  EXPECT_EQ(shell->vibrations().vibrations().size(), 1u);
  shell->terminate();
}

}  // namespace
}  // namespace tavero::app::e2e
