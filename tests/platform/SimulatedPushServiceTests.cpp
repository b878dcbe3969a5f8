#include <gtest/gtest.h>

#include "json/JsonCodec.h"
#include "platform/sim/RecordedBadge.h"
#include "platform/sim/SimulatedPushService.h"
#include "support/QueueMainThread.h"

namespace tavero::platform {
namespace {

class RecordingDelegate : public PushServiceDelegate {
 public:
  void didRegisterForRemoteNotificationsWithDeviceToken(const std::vector<uint8_t>& token) override {
    seen.push_back("token of " + std::to_string(token.size()) + " bytes");
  }
  void didFailToRegisterForRemoteNotificationsWithError(const std::string& message) override {
    seen.push_back("failed: " + message);
  }
  void didReceiveRemoteNotification(const json::Object&) override { seen.push_back("notification"); }
  std::vector<std::string> seen;
};

TEST(HexToken, ReadsHexInEitherCaseWithThePlatformsDescriptionAllowed) {
  using Bytes = std::vector<uint8_t>;
  EXPECT_EQ(parseHexToken("0abc12ef"), (Bytes{0x0a, 0xbc, 0x12, 0xef}));
  EXPECT_EQ(parseHexToken("<0ABC12EF>"), (Bytes{0x0a, 0xbc, 0x12, 0xef}));
  EXPECT_EQ(parseHexToken("<0abc 12ef>"), (Bytes{0x0a, 0xbc, 0x12, 0xef}));
  for (const char* bad : {"", "<>", "abc", "0x12", "zz", "12 3"}) EXPECT_FALSE(parseHexToken(bad)) << bad;
  EXPECT_FALSE(parseHexToken(std::string(514, 'a')));
}

TEST(PushProfile, GivesATokenOrAFailureAndSaysWhatIsWrong) {
  auto settings = [](const char* text) {
    auto profile = json::JsonCodec::dictionaryWithJSONString(text);
    return pushSettingsFromProfile(profile->find("push"));
  };
  auto token = settings(R"({"push": {"token": "0abc12ef"}})");
  ASSERT_TRUE(std::holds_alternative<PushSettings>(token));
  EXPECT_EQ(std::get<PushSettings>(token).token->size(), 4u);
  auto failure = settings(R"({"push": {"failure": "no network"}})");
  ASSERT_TRUE(std::holds_alternative<PushSettings>(failure));
  EXPECT_EQ(std::get<PushSettings>(failure).failure, "no network");
  auto none = settings("{}");
  ASSERT_TRUE(std::holds_alternative<PushSettings>(none));
  EXPECT_EQ(std::get<PushSettings>(none).token->size(), 32u);  // a random token
  for (const char* bad : {R"({"push": "0abc"})", R"({"push": {"token": "xyz"}})", R"({"push": {"token": 12}})",
                          R"({"push": {"token": "0abc", "failure": "x"}})", R"({"push": {"failure": ""}})"}) {
    EXPECT_TRUE(std::holds_alternative<std::string>(settings(bad))) << bad;
  }
}

class SimulatedPush : public ::testing::Test {
 protected:
  testing::QueueMainThread main_;
  RecordedBadge badge_;
  RecordingDelegate delegate_;
};

TEST_F(SimulatedPush, RegisteringReportsOnTheMainThreadAndOnlyARegisteredAppGetsNotifications) {
  SimulatedPushService push(main_, &badge_, PushSettings{.token = std::vector<uint8_t>{1, 2, 3}, .failure = {}});
  push.setDelegate(&delegate_);
  json::Object payload = *json::JsonCodec::dictionaryWithJSONString(R"({"aps": {"badge": 4}})");
  EXPECT_TRUE(push.deliver(payload));  // refused: not registered
  push.registerForRemoteNotificationTypes(kPushAlert | kPushBadge);
  EXPECT_TRUE(delegate_.seen.empty());  // not before the main thread runs
  main_.runPending();
  EXPECT_EQ(push.registeredTypes(), kPushAlert | kPushBadge);
  EXPECT_FALSE(push.deliver(payload));
  EXPECT_EQ(badge_.applicationIconBadgeNumber(), 4);  // the delegate clears it afterwards
  EXPECT_EQ(delegate_.seen, (std::vector<std::string>{"token of 3 bytes", "notification"}));
}

TEST_F(SimulatedPush, ControlCommandsChangeTheOutcomeAndTellARegisteredAppAtOnce) {
  SimulatedPushService push(main_, &badge_, PushSettings{.token = {}, .failure = "offline"});
  push.setDelegate(&delegate_);
  control::ControlCommandRegistry commands(&main_);
  push.addControlCommands(commands);

  EXPECT_TRUE(commands.run({"push", "token", "abcd"}).ok());  // nothing registered yet: nobody is told
  EXPECT_TRUE(delegate_.seen.empty());
  push.registerForRemoteNotificationTypes(kPushAlert);
  main_.runPending();
  EXPECT_TRUE(commands.run({"push", "fail", "the", "network", "is", "down"}).ok());
  EXPECT_FALSE(commands.run({"push", "deliver", "{}"}).ok());  // registration failed
  EXPECT_TRUE(commands.run({"push", "token", "<0a0b>"}).ok());
  EXPECT_TRUE(commands.run({"push", "deliver", "{\"k\": 1}"}).ok());
  EXPECT_EQ(delegate_.seen, (std::vector<std::string>{"token of 2 bytes", "failed: the network is down",
                                                      "token of 2 bytes", "notification"}));
  for (std::vector<std::string> bad : {std::vector<std::string>{"push", "token", "xyz"},
                                       {"push", "deliver", "[1]"},
                                       {"push", "deliver", "not json"},
                                       {"push", "fail"}}) {
    EXPECT_FALSE(commands.run(bad).ok()) << bad.back();
  }
}

TEST_F(SimulatedPush, AServiceGoneBeforeItsReportRunsReportsNothing) {
  {
    SimulatedPushService push(main_, &badge_, PushSettings{.token = std::vector<uint8_t>{1}, .failure = {}});
    push.setDelegate(&delegate_);
    push.registerForRemoteNotificationTypes(0);
  }
  main_.runPending();
  EXPECT_TRUE(delegate_.seen.empty());
}

}  // namespace
}  // namespace tavero::platform
