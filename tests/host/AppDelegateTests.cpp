#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "bridge/QLTaveroBridge.h"
#include "host/TQAppDelegate.h"
#include "support/ManualTimers.h"
#include "support/QueueMainThread.h"
#include "support/RecordingWebView.h"

namespace tavero::host {
namespace {

namespace fs = std::filesystem;

// Records the events and whether the bridge was listening when each came.
class RecordingEvents : public AppEvents {
 public:
  explicit RecordingEvents(bridge::QLTaveroBridge& bridge) : bridge_(bridge) {}
  void onDevicePause(std::function<void()> handlersRan) override {
    seen.push_back(listening() ? "pause, listening" : "pause, closed");
    reports.push_back(std::move(handlersRan));
  }
  void onDeviceResume() override { seen.push_back(listening() ? "resume, listening" : "resume, closed"); }
  std::vector<std::string> seen;
  std::vector<std::function<void()>> reports;  // of each pause, for the test to call

 private:
  bool listening() { return bridge_.worker().performAndWait([&] { return bridge_.isListening(); }); }
  bridge::QLTaveroBridge& bridge_;
};

class AppDelegate : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tavero-delegate-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    bundle_.path = root_ / "bundle";
    fs::create_directories(bundle_.webappPath());
    std::ofstream(bundle_.webappPath() / "app.json") << "{}";
    home_.home = root_ / "home";
    fs::create_directories(home_.documents());
    sqlite3* backup = nullptr;
    sqlite3_open((home_.documents() / ".file__0.localstorage").c_str(), &backup);
    sqlite3_exec(backup, "CREATE TABLE ItemTable (key TEXT, value BLOB)", nullptr, nullptr, nullptr);
    sqlite3_close(backup);
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path root_;
  platform::BundleInfo bundle_;
  platform::HomeFolders home_;
  testing::QueueMainThread main_;
  testing::ManualTimers timers_;
  testing::RecordingWebViewHost host_;
  bridge::ModuleRegistry modules_;
  bridge::QLTaveroBridge bridge_{modules_, 0};
};

TEST_F(AppDelegate, LaunchRestoresStorageBeforeAnyViewThenShowsAndWaitsForTheStartPage) {
  TQViewManager views(host_, bundle_.webappPath(), [] { return PageDeviceInformation{}; });
  TQEngine engine(main_, host_, views, bundle_);
  RecordingEvents events(bridge_);
  TQAppDelegate delegate(main_, timers_, host_, engine, &bridge_, home_, events);
  main_.onRunFor = [&](std::chrono::milliseconds) {
    // The restored file is in place by the time the first view exists.
    EXPECT_TRUE(fs::exists(home_.localStorageFolder() / "file__0.localstorage"));
    host_.created.at(0)->finishLoad();
  };
  EXPECT_TRUE(delegate.didFinishLaunching());
  EXPECT_TRUE(host_.windowShown);
  EXPECT_EQ(host_.contentView, host_.created.at(0));
}

// Fires the repeating (poll) timers `times` times, as the main loop would.
void pollTimers(testing::ManualTimers& timers, int times) {
  for (int i = 0; i < times; ++i)
    for (const auto& timer : timers.active())
      if (timer.repeats) timers.fire(timer.id);
}
constexpr int kQuietPolls = static_cast<int>(PauseDrain::kQuietTime / PauseDrain::kPollInterval);

TEST_F(AppDelegate, TheBridgeServesThePauseHandlersAndStopsOnceTheyReportedAndWentQuiet) {
  TQViewManager views(host_, bundle_.webappPath(), [] { return PageDeviceInformation{}; });
  TQEngine engine(main_, host_, views, bundle_);
  RecordingEvents events(bridge_);
  TQAppDelegate delegate(main_, timers_, host_, engine, &bridge_, home_, events);
  delegate.didEnterBackground();
  pollTimers(timers_, kQuietPolls * 2);
  EXPECT_TRUE(bridge_.isServing()) << "the pages have not reported on their handlers";
  ASSERT_EQ(events.reports.size(), 1u);
  events.reports[0]();  // from a bridge thread in the shell: it reaches the main thread later
  pollTimers(timers_, kQuietPolls);
  EXPECT_TRUE(bridge_.isServing());
  main_.runPending();
  pollTimers(timers_, kQuietPolls);
  EXPECT_FALSE(bridge_.isServing());
  EXPECT_FALSE(bridge_.worker().performAndWait([&] { return bridge_.isListening(); }));
  ASSERT_TRUE(delegate.lastPauseWait());

  delegate.willEnterForeground();
  EXPECT_TRUE(bridge_.isServing());
  EXPECT_EQ(events.seen, (std::vector<std::string>{"pause, listening", "resume, listening"}));
}

TEST_F(AppDelegate, ComingBackBeforeTheStopKeepsTheBridgeServingAndIgnoresTheOldPausesReport) {
  TQViewManager views(host_, bundle_.webappPath(), [] { return PageDeviceInformation{}; });
  TQEngine engine(main_, host_, views, bundle_);
  RecordingEvents events(bridge_);
  TQAppDelegate delegate(main_, timers_, host_, engine, &bridge_, home_, events);
  delegate.didEnterBackground();
  delegate.willEnterForeground();
  EXPECT_TRUE(timers_.active().empty()) << "the stop is called off";
  EXPECT_TRUE(bridge_.isServing());

  delegate.didEnterBackground();
  ASSERT_EQ(events.reports.size(), 2u);
  events.reports[0]();  // the first pause's report comes late
  main_.runPending();
  pollTimers(timers_, kQuietPolls * 2);
  EXPECT_TRUE(bridge_.isServing()) << "the second pause's handlers have not reported";
  // The longest wait ends it whatever the pages do.
  for (const auto& timer : timers_.active())
    if (!timer.repeats) timers_.fire(timer.id);
  EXPECT_FALSE(bridge_.isServing());
  EXPECT_TRUE(delegate.waitForBridgeToStop());
}

TEST_F(AppDelegate, StorageThePagesEmptiedDoesNotComeBackFromTheBackup) {
  TQViewManager views(host_, bundle_.webappPath(), [] { return PageDeviceInformation{}; });
  TQEngine engine(main_, host_, views, bundle_);
  RecordingEvents events(bridge_);
  TQAppDelegate delegate(main_, timers_, host_, engine, &bridge_, home_, events);
  const fs::path backup = home_.documents() / ".file__0.localstorage";

  // Before a live database was ever seen, a missing one proves nothing.
  delegate.willResignActive();
  EXPECT_TRUE(fs::exists(backup));

  main_.onRunFor = [&](std::chrono::milliseconds) { host_.created.at(0)->finishLoad(); };
  delegate.didFinishLaunching();  // restores the backup as the live database
  fs::remove(home_.localStorageFolder() / "file__0.localstorage");  // as the web view does when emptied
  delegate.willResignActive();
  EXPECT_FALSE(fs::exists(backup));
}

// Records what the pages would be told, and the badge at that moment.
class BadgeCheckingEvents : public AppEvents {
 public:
  explicit BadgeCheckingEvents(const platform::ApplicationBadge& badge) : badge_(badge) {}
  void didRegisterToReceiveRemoteNotifications(const std::string& token) override { seen.push_back("token " + token); }
  void failedToReceiveRemoteNotificationWithError(const std::string& message) override {
    seen.push_back("failure " + message);
  }
  void didReceiveRemoteNotification(const json::Object&) override {
    seen.push_back("notification, badge " + std::to_string(badge_.applicationIconBadgeNumber()));
  }
  void openURL(const std::string& url, const std::string& source) override { seen.push_back(url + " from " + source); }
  std::vector<std::string> seen;

 private:
  const platform::ApplicationBadge& badge_;
};

class CountingBadge : public platform::ApplicationBadge {
 public:
  void setApplicationIconBadgeNumber(int number) override { number_ = number; }
  int applicationIconBadgeNumber() const override { return number_; }

 private:
  int number_ = 5;
};

TEST(TokenText, IsLowerCaseHexTwoDigitsPerByteWithoutSeparators) {
  EXPECT_EQ(TQAppDelegate::tokenText({0x0A, 0xBC, 0x12, 0xEF}), "0abc12ef");
  EXPECT_EQ(TQAppDelegate::tokenText({0x00, 0xFF}), "00ff");
  EXPECT_EQ(TQAppDelegate::tokenText({}), "");
}

TEST_F(AppDelegate, PushOutcomesReachThePagesAndANotificationClearsTheBadgeFirst) {
  TQViewManager views(host_, bundle_.webappPath(), [] { return PageDeviceInformation{}; });
  TQEngine engine(main_, host_, views, bundle_);
  CountingBadge badge;
  BadgeCheckingEvents events(badge);
  TQAppDelegate delegate(main_, timers_, host_, engine, &bridge_, home_, events, &badge);
  EXPECT_FALSE(delegate.token());

  main_.onRunFor = [&](std::chrono::milliseconds) { host_.created.at(0)->finishLoad(); };
  delegate.didFinishLaunching();
  EXPECT_EQ(badge.applicationIconBadgeNumber(), 0);  // cleared at launch

  delegate.didRegisterForRemoteNotificationsWithDeviceToken({0x0A, 0xBC, 0x12, 0xEF});
  EXPECT_EQ(delegate.token(), "0abc12ef");
  delegate.didFailToRegisterForRemoteNotificationsWithError("no network");
  badge.setApplicationIconBadgeNumber(3);  // the notification's own badge
  delegate.didReceiveRemoteNotification(json::Object());
  // Opening through a URL is always handled, whoever watches.
  EXPECT_TRUE(delegate.openURL("myapp://x", ""));
  EXPECT_EQ(events.seen, (std::vector<std::string>{"token 0abc12ef", "failure no network", "notification, badge 0",
                                                   "myapp://x from "}));
}

}  // namespace
}  // namespace tavero::host
