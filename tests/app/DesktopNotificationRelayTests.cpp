// Which road push and notifications take (command line over profile over
// defaults), and what reaches the desktop: a push with alert text while
// the app is in the background, an alert while the window lacks the focus;
// a click brings the app to the front. Everything still reaches the app.
#include <gtest/gtest.h>

#include "app/DesktopNotificationRelay.h"
#include "app/ServiceRoads.h"
#include "json/JsonCodec.h"
#include "platform/sim/RecordingDesktopNotifier.h"

namespace tavero::app {
namespace {

json::Object object(const char* text) { return *json::JsonCodec::dictionaryWithJSONString(text); }

TEST(ServiceRoads, TheCommandLineWinsOverTheProfileWhichWinsOverTheDefaults) {
  auto roads = [](const char* profile, ServiceRoadChoices choices) {
    auto parsed = profile ? std::optional(object(profile)) : std::nullopt;
    auto chosen = serviceRoadsFor(parsed ? &*parsed : nullptr, choices);
    return std::get<ServiceRoads>(chosen);
  };
  auto windowed = roads(nullptr, {});
  EXPECT_FALSE(windowed.unifiedPush);
  EXPECT_TRUE(windowed.desktopNotifications);
  EXPECT_FALSE(roads(nullptr, {.unifiedPush = std::nullopt, .desktopNotifications = std::nullopt, .headless = true}).desktopNotifications);
  auto profiled = roads(R"({"push": {"source": "unifiedpush"}, "notifications": "desktop"})", {.unifiedPush = std::nullopt, .desktopNotifications = std::nullopt, .headless = true});
  EXPECT_TRUE(profiled.unifiedPush);
  EXPECT_TRUE(profiled.desktopNotifications);
  auto overruled = roads(R"({"push": {"source": "unifiedpush"}, "notifications": "desktop"})",
                         {.unifiedPush = false, .desktopNotifications = false, .headless = false});
  EXPECT_FALSE(overruled.unifiedPush);
  EXPECT_FALSE(overruled.desktopNotifications);
  EXPECT_FALSE(roads(R"({"push": {"token": "0abc"}})", {}).unifiedPush);
}

TEST(ServiceRoads, WrongProfileValuesAreNamed) {
  for (const char* text : {R"({"push": {"source": "apns"}})", R"({"push": {"source": 1}})"}) {
    auto profile = object(text);
    EXPECT_EQ(std::get<std::string>(serviceRoadsFor(&profile, {})), "\"push.source\" is \"simulated\" or \"unifiedpush\"");
  }
  auto profile = object(R"({"notifications": true})");
  EXPECT_EQ(std::get<std::string>(serviceRoadsFor(&profile, {})), "\"notifications\" is \"none\" or \"desktop\"");
  EXPECT_EQ(unifiedPushFromName("UnifiedPush"), std::nullopt);
  EXPECT_EQ(desktopNotificationsFromName("desktop"), true);
}

class RecordingDelegate : public platform::PushServiceDelegate {
 public:
  void didRegisterForRemoteNotificationsWithDeviceToken(const std::vector<uint8_t>& token) override {
    seen.push_back("token " + std::string(token.begin(), token.end()));
  }
  void didFailToRegisterForRemoteNotificationsWithError(const std::string& message) override {
    seen.push_back("failed " + message);
  }
  void didReceiveRemoteNotification(const json::Object&) override { seen.push_back("notification"); }
  std::vector<std::string> seen;
};

class RecordingAlerts : public platform::AlertPresenter {
 public:
  void showAlert(platform::AlertRequest alert, std::function<void(int)> onPressed) override {
    shown.push_back(alert.title);
    onPressed(0);
  }
  std::vector<std::string> shown;
};

class Relay : public ::testing::Test {
 protected:
  Relay() {
    relay_.setPushDelegate(&delegate_);
  }

  platform::RecordingDesktopNotifier notifier_;
  RecordingAlerts alerts_;
  RecordingDelegate delegate_;
  bool background_ = false;
  bool focused_ = true;
  int broughtToFront_ = 0;
  DesktopNotificationRelay relay_{notifier_, alerts_, "Notes",
                                  DesktopNotificationRelay::Shell{
                                      .inBackground = [this] { return background_; },
                                      .windowFocused = [this] { return focused_; },
                                      .bringToFront = [this] { ++broughtToFront_; },
                                  }};
};

TEST_F(Relay, APushWithAlertTextInTheBackgroundAlsoGoesToTheDesktopAndItsClickBringsTheAppBack) {
  relay_.didReceiveRemoteNotification(object(R"({"aps": {"alert": "Lunch?"}})"));
  EXPECT_TRUE(notifier_.shown().empty());  // the user is looking at the app
  background_ = true;
  relay_.didReceiveRemoteNotification(object(R"({"aps": {"alert": "Lunch?", "badge": 1}})"));
  relay_.didReceiveRemoteNotification(object(R"({"aps": {"alert": {"title": "Ann", "body": "Lunch?"}}})"));
  relay_.didReceiveRemoteNotification(object(R"({"aps": {"alert": {"title": "Ann"}}})"));
  // Without alert text nothing is shown: a badge, data, an empty alert, one of another type.
  for (const char* silent : {R"({"aps": {"badge": 4}})", R"({"news": 1})", R"({"aps": {"alert": ""}})",
                             R"({"aps": {"alert": {}}})", R"({"aps": {"alert": 7}})", R"({"aps": "alert"})"})
    relay_.didReceiveRemoteNotification(object(silent));
  ASSERT_EQ(notifier_.shown().size(), 3u);
  EXPECT_EQ(notifier_.shown()[0].title, "Notes");
  EXPECT_EQ(notifier_.shown()[0].body, "Lunch?");
  EXPECT_EQ(notifier_.shown()[1].title, "Ann");
  EXPECT_EQ(notifier_.shown()[1].body, "Lunch?");
  EXPECT_EQ(notifier_.shown()[2].body, "");
  EXPECT_EQ(delegate_.seen.size(), 10u);  // every one reached the app

  EXPECT_TRUE(notifier_.activate(1));
  EXPECT_EQ(broughtToFront_, 1);
  EXPECT_FALSE(notifier_.activate(1));
}

TEST_F(Relay, AnAlertWhileTheWindowLacksTheFocusIsAlsoANotificationAndRegistrationPassesThrough) {
  relay_.showAlert({"Save?", "Your note is not saved", {"Save"}}, [](int) {});
  EXPECT_TRUE(notifier_.shown().empty());
  focused_ = false;
  relay_.showAlert({"", "Untitled alert", {"OK"}}, [](int) {});
  relay_.showAlert({"Save?", "Your note is not saved", {"Save"}}, [](int) {});
  EXPECT_EQ(alerts_.shown, (std::vector<std::string>{"Save?", "", "Save?"}));
  ASSERT_EQ(notifier_.shown().size(), 2u);
  EXPECT_EQ(notifier_.shown()[0].title, "Notes");
  EXPECT_EQ(notifier_.shown()[1].body, "Your note is not saved");
  EXPECT_TRUE(notifier_.activate(0));
  EXPECT_EQ(broughtToFront_, 1);

  relay_.didRegisterForRemoteNotificationsWithDeviceToken({'h', 't'});
  relay_.didFailToRegisterForRemoteNotificationsWithError("no distributor");
  EXPECT_EQ(delegate_.seen, (std::vector<std::string>{"token ht", "failed no distributor"}));
}

}  // namespace
}  // namespace tavero::app
