// `tavero run --push unifiedpush --notifications desktop` as a user runs it,
// on a private display and a private session bus with stand-ins for the
// UnifiedPush distributor and the desktop's notification server: the page
// gets the endpoint as its token and the distributor's messages as
// notifications; one that arrives in the background also appears on the
// desktop, and clicking it brings the app back; without a distributor the
// page hears why, and without a notification server the log says so; the
// simulated push commands refuse.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "app/DeviceCommand.h"
#include "json/JsonCodec.h"
#include "support/ChildProcess.h"
#include "support/PrivateSessionBus.h"
#include "support/StandInDistributor.h"
#include "support/StandInNotificationServer.h"

namespace tavero::app {
namespace {

namespace fs = std::filesystem;
using tavero::testing::ChildProcess;
using tavero::testing::StandInDistributor;
using tavero::testing::StandInNotificationServer;

// The text whose UTF-8 bytes `hex` spells.
std::string fromHex(const std::string& hex) {
  std::string text;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) text += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return text;
}

// What follows `marker` on `line`.
std::string after(const std::string& line, const std::string& marker) {
  size_t at = line.find(marker);
  return at == std::string::npos ? std::string() : line.substr(at + marker.size());
}

class UnifiedPushRun : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the shell's web view does not run under ThreadSanitizer";
#endif
    folder_ = fs::temp_directory_path() / ("tavero-unifiedpush-run-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override {
    if (shell_) {
      shell_->signal(SIGTERM);
      EXPECT_EQ(shell_->wait(), 0) << shell_->allLines();
    }
    fs::remove_all(folder_);
  }

  void startShell() {
    shell_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{TAVERO_BINARY, "run", TAVERO_APP_TESTS_DIR "/push-app", "--headless", "--home",
                                 (folder_ / "home").string(), "--port", "0", "--push", "unifiedpush",
                                 "--notifications", "desktop"},
        ChildProcess::Options{.environment = {"DBUS_SESSION_BUS_ADDRESS=" + bus_.address()}, .ownProcessGroup = true});
  }

  int device(std::vector<std::string> words) {
    words.insert(words.begin(), {"--home", (folder_ / "home").string()});
    out_.str("");
    err_.str("");
    return runDevice(words, folder_ / "running", out_, err_);
  }

  testing::PrivateSessionBus bus_;
  fs::path folder_;
  std::unique_ptr<ChildProcess> shell_;
  std::ostringstream out_, err_;
};

TEST_F(UnifiedPushRun, ThePageGetsTheEndpointAndMessagesAndABackgroundOneOnTheDesktopBringsTheAppBack) {
  StandInDistributor distributor(bus_.address(), {});
  StandInNotificationServer server(bus_.address());
  ASSERT_TRUE(distributor.ready() && server.ready());
  startShell();
  auto token = shell_->waitForLineContaining("push token ");
  ASSERT_TRUE(token) << shell_->allLines();
  EXPECT_EQ(fromHex(after(*token, "push token ")), "https://push.example.org/up/5Ew9jwBmf0SEYnJdE0Kq");
  EXPECT_EQ(distributor.registrations().at(0).service, "org.tavero.test.push_app");
  EXPECT_TRUE(shell_->saidSomethingContaining("push from a UnifiedPush distributor on the session bus"));

  ASSERT_EQ(device({"push", "status"}), 0) << err_.str();
  auto status = json::JsonCodec::dictionaryWithJSONString(out_.str());
  ASSERT_TRUE(status) << out_.str();
  EXPECT_EQ(status->find("source")->asString(), "unifiedpush");
  EXPECT_EQ(status->find("distributor")->asString(), "org.unifiedpush.Distributor.standin");
  EXPECT_TRUE(status->find("registered")->asBool());
  EXPECT_EQ(status->find("endpoint")->asString(), "https://push.example.org/up/5Ew9jwBmf0SEYnJdE0Kq");

  EXPECT_EQ(device({"push", "deliver", "{}"}), 1);
  EXPECT_NE(err_.str().find("push comes from the UnifiedPush distributor"), std::string::npos) << err_.str();

  // In the foreground the page hears it, and the desktop is left alone.
  distributor.sendMessage(R"({"aps": {"alert": "Lunch?", "badge": 2}, "n": 1})");
  auto first = shell_->waitForLineContaining("push received ");
  ASSERT_TRUE(first) << shell_->allLines();
  EXPECT_NE(first->find("\"n\":1"), std::string::npos);

  ASSERT_EQ(device({"app", "background"}), 0) << err_.str();
  distributor.sendMessage(R"({"aps": {"alert": {"title": "Ann <3", "body": "Fish & chips"}}, "n": 2})");
  ASSERT_TRUE(server.waitForNotifications(1)) << shell_->allLines();
  auto shown = server.notifications().at(0);
  EXPECT_EQ(shown.appName, "Push & Co");
  EXPECT_EQ(shown.summary, "Ann <3");
  EXPECT_EQ(shown.body, "Fish &amp; chips");
  EXPECT_EQ(server.notifications().size(), 1u);  // the first one was not shown

  server.invokeAction(shown.id);
  ASSERT_TRUE(shell_->waitForLineContaining("lifecycle: the app comes back to the foreground")) << shell_->allLines();
  ASSERT_TRUE(shell_->waitForLineContaining("page resumed")) << shell_->allLines();
  // The page heard the message that came while it was away.
  EXPECT_TRUE(shell_->saidSomethingContaining("\"n\":2")) << shell_->allLines();
}

TEST_F(UnifiedPushRun, WithoutADistributorThePageHearsWhyAndAVersionOneDistributorServesTheNextStart) {
  startShell();
  auto failure = shell_->waitForLineContaining("push failed ");
  ASSERT_TRUE(failure) << shell_->allLines();
  EXPECT_NE(failure->find("no UnifiedPush distributor on the session bus"), std::string::npos) << *failure;
  shell_->signal(SIGTERM);
  ASSERT_EQ(shell_->wait(), 0);

  StandInDistributor distributor(bus_.address(), {.version = 1, .name = "old", .refusal = std::nullopt});
  ASSERT_TRUE(distributor.ready());
  startShell();
  auto token = shell_->waitForLineContaining("push token ");
  ASSERT_TRUE(token) << shell_->allLines();
  EXPECT_EQ(fromHex(after(*token, "push token ")), "https://push.example.org/up/5Ew9jwBmf0SEYnJdE0Kq");
  distributor.sendMessage(R"({"aps": {"badge": 3}, "n": 3})");
  auto message = shell_->waitForLineContaining("push received ");
  ASSERT_TRUE(message) << shell_->allLines();
  EXPECT_NE(message->find("\"n\":3"), std::string::npos);

  // No notification server on this bus: a log line, and the app goes on.
  ASSERT_EQ(device({"app", "background"}), 0) << err_.str();
  distributor.sendMessage(R"({"aps": {"alert": "Still there?"}, "n": 4})");
  ASSERT_TRUE(shell_->waitForLineContaining("notifications: no desktop notifications")) << shell_->allLines();
  EXPECT_EQ(device({"app", "foreground"}), 0) << err_.str();
  ASSERT_TRUE(shell_->waitForLineContaining("page resumed")) << shell_->allLines();
  EXPECT_TRUE(shell_->saidSomethingContaining("\"n\":4")) << shell_->allLines();
}

}  // namespace
}  // namespace tavero::app
