// Push through a UnifiedPush distributor, against stand-in distributors on a
// private session bus: the endpoint becomes the token, messages become
// notifications (badge first), the registration token survives a restart,
// version 1 distributors work, and whatever is not the distributor's, or
// is not a proper message, is refused without reaching the app.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/FileRead.h"
#include "json/JsonCodec.h"
#include "platform/PushDelivery.h"
#include "platform/linux/GLibMainThread.h"
#include "platform/linux/UnifiedPushService.h"
#include "platform/sim/RecordedBadge.h"
#include "support/CapturedLog.h"
#include "support/PrivateSessionBus.h"
#include "support/StandInDistributor.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;
using testing::BusPeer;
using testing::StandInDistributor;

class RecordingDelegate : public PushServiceDelegate {
 public:
  void didRegisterForRemoteNotificationsWithDeviceToken(const std::vector<uint8_t>& token) override {
    tokens.emplace_back(token.begin(), token.end());
  }
  void didFailToRegisterForRemoteNotificationsWithError(const std::string& message) override {
    failures.push_back(message);
  }
  void didReceiveRemoteNotification(const json::Object& payload) override {
    payloads.push_back(json::JsonCodec::jsonStringValueWithIndentLevel(payload, json::JsonCodec::jsonDoNotIndent));
  }
  std::vector<std::string> tokens;
  std::vector<std::string> failures;
  std::vector<std::string> payloads;
};

class UnifiedPush : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("tavero-unifiedpush-" + std::to_string(::getpid()));
    fs::remove_all(folder_);
    unsetenv("UNIFIEDPUSH_DISTRIBUTOR");
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::unique_ptr<UnifiedPushService> makeService() {
    auto service = std::make_unique<UnifiedPushService>(
        mainThread_, UnifiedPushService::Options{.bundleIdentifier = "org.tavero.test.push-app",
                                                 .displayName = "Push App",
                                                 .tokenFile = folder_ / "unifiedpush-token",
                                                 .badge = &badge_});
    service->setDelegate(&delegate_);
    return service;
  }

  // Until the app's bus name, which a service just gone held, is free again.
  void waitForTheNameToBeFree() {
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        bus_.address().c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    ASSERT_TRUE(connection);
    bool owned = true;
    for (int attempt = 0; owned && attempt < 200; ++attempt) {
      GVariant* reply = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                    "org.freedesktop.DBus", "NameHasOwner",
                                                    g_variant_new("(s)", "org.tavero.test.push_app"),
                                                    G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
      gboolean has = FALSE;
      if (reply) g_variant_get(reply, "(b)", &has), g_variant_unref(reply);
      owned = has;
      if (owned) g_usleep(10000);
    }
    g_object_unref(connection);
    EXPECT_FALSE(owned);
  }

  // Serves the main loop until `done`, which the bus peers' threads may
  // make true: a ticking timer has the loop look again.
  bool serveUntil(const std::function<bool()>& done) {
    guint tick = g_timeout_add(5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool reached = mainThread_.runUntil(done, std::chrono::seconds(10));
    g_source_remove(tick);
    return reached;
  }
  // Lets calls under way arrive and be answered.
  void settle(BusPeer& peer, size_t answers) {
    serveUntil([&] { return peer.answers().size() >= answers; });
  }

  // Registers with `distributor` until the app has its token.
  void registerWith(UnifiedPushService& service) {
    delegate_.tokens.clear();
    delegate_.failures.clear();
    service.registerForRemoteNotificationTypes(kPushAlert | kPushBadge);
    ASSERT_TRUE(serveUntil([&] { return !delegate_.tokens.empty() || !delegate_.failures.empty(); }));
    ASSERT_TRUE(delegate_.failures.empty()) << delegate_.failures.front();
  }

  testing::PrivateSessionBus bus_;
  GLibMainThread mainThread_;
  RecordedBadge badge_;
  RecordingDelegate delegate_;
  fs::path folder_;
};

TEST_F(UnifiedPush, TheEndpointIsTheTokenAndMessagesArriveWithTheirBadgeUntilTheDistributorUnregisters) {
  StandInDistributor distributor(bus_.address(), {});
  ASSERT_TRUE(distributor.ready());
  auto service = makeService();
  registerWith(*service);
  EXPECT_EQ(delegate_.tokens, std::vector<std::string>{"https://push.example.org/up/5Ew9jwBmf0SEYnJdE0Kq"});
  auto registration = distributor.registrations().at(0);
  EXPECT_EQ(registration.service, "org.tavero.test.push_app");
  EXPECT_EQ(registration.description, "Push App");
  EXPECT_EQ(base::readFileText(folder_ / "unifiedpush-token").value_or(""), registration.token + "\n");

  distributor.sendMessage(R"({"aps": {"alert": "Lunch?", "badge": 3}, "from": "Ann"})", "m-1");
  settle(distributor.peer(), 2);
  ASSERT_EQ(delegate_.payloads.size(), 1u);
  EXPECT_NE(delegate_.payloads[0].find("Ann"), std::string::npos) << delegate_.payloads[0];
  EXPECT_EQ(badge_.applicationIconBadgeNumber(), 3);
  // The message is acknowledged by its id, as distributors expect.
  EXPECT_EQ(distributor.peer().answers().at(1), "({'id': <'m-1'>},)");

  distributor.sendUnregistered();
  settle(distributor.peer(), 3);
  ASSERT_EQ(delegate_.failures.size(), 1u);
  EXPECT_NE(delegate_.failures[0].find("ended the app's registration"), std::string::npos);
  EXPECT_FALSE(fs::exists(folder_ / "unifiedpush-token"));
  EXPECT_FALSE(service->endpoint());
  // A message for the ended registration reaches nobody.
  distributor.sendMessage(R"({"aps": {"alert": "late"}})");
  settle(distributor.peer(), 4);
  EXPECT_EQ(delegate_.payloads.size(), 1u);
  EXPECT_EQ(distributor.peer().answers().at(3), "error org.freedesktop.DBus.Error.InvalidArgs");
}

TEST_F(UnifiedPush, ARestartedAppRegistersWithTheSameTokenAndAVersionOneDistributorServesIt) {
  StandInDistributor distributor(bus_.address(), {.version = 1, .name = "old", .refusal = std::nullopt});
  ASSERT_TRUE(distributor.ready());
  {
    auto service = makeService();
    registerWith(*service);
  }
  waitForTheNameToBeFree();
  auto service = makeService();
  registerWith(*service);
  auto registrations = distributor.registrations();
  ASSERT_EQ(registrations.size(), 2u);
  EXPECT_EQ(registrations[0].token, registrations[1].token);
  EXPECT_EQ(registrations[1].service, "org.tavero.test.push_app");

  distributor.sendMessage(R"({"aps": {"badge": 7}})");
  ASSERT_TRUE(serveUntil([&] { return delegate_.payloads.size() == 1; }));
  EXPECT_EQ(badge_.applicationIconBadgeNumber(), 7);
}

TEST_F(UnifiedPush, RegisteringFailsClearlyWithoutADistributorOrWhenItRefuses) {
  {
    auto service = makeService();
    service->registerForRemoteNotificationTypes(kPushAlert);
    ASSERT_TRUE(serveUntil([&] { return !delegate_.failures.empty(); }));
    EXPECT_NE(delegate_.failures[0].find("no UnifiedPush distributor on the session bus"), std::string::npos);
  }
  waitForTheNameToBeFree();
  StandInDistributor distributor(bus_.address(), {.refusal = "UNAUTHORIZED"});
  ASSERT_TRUE(distributor.ready());
  delegate_.failures.clear();
  auto service = makeService();
  service->registerForRemoteNotificationTypes(kPushAlert);
  ASSERT_TRUE(serveUntil([&] { return !delegate_.failures.empty(); }));
  EXPECT_EQ(delegate_.failures[0],
            "the UnifiedPush distributor org.unifiedpush.Distributor.standin refused the registration (UNAUTHORIZED)");
  EXPECT_TRUE(delegate_.tokens.empty());
}

TEST_F(UnifiedPush, TheAppsBusNameHeldByAnotherProgramFailsRegisteringUntilItIsFree) {
  StandInDistributor distributor(bus_.address(), {});
  ASSERT_TRUE(distributor.ready());
  auto squatter = std::make_unique<BusPeer>(bus_.address());
  guint owned = 0;
  squatter->run([&](GDBusConnection* connection) {
    owned = g_bus_own_name_on_connection(connection, "org.tavero.test.push_app", G_BUS_NAME_OWNER_FLAGS_NONE, nullptr,
                                         nullptr, nullptr, nullptr);
  });
  squatter->call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId", nullptr);
  ASSERT_TRUE(squatter->waitForAnswers(1));  // the name's request went first
  auto service = makeService();
  service->registerForRemoteNotificationTypes(kPushAlert);
  ASSERT_TRUE(serveUntil([&] { return !delegate_.failures.empty(); }));
  EXPECT_EQ(delegate_.failures[0],
            "the bus name org.tavero.test.push_app belongs to another program (is the app running twice?)");
  EXPECT_TRUE(distributor.registrations().empty());

  squatter->run([&](GDBusConnection*) { g_bus_unown_name(owned); });
  squatter.reset();
  waitForTheNameToBeFree();
  registerWith(*service);
  EXPECT_EQ(distributor.registrations().size(), 1u);
}

TEST_F(UnifiedPush, TheDistributorTheEnvironmentNamesIsChosenAndAMissingOneIsNamed) {
  StandInDistributor first(bus_.address(), {.name = "aaa", .refusal = std::nullopt});
  StandInDistributor second(bus_.address(), {.name = "zzz", .refusal = std::nullopt});
  ASSERT_TRUE(first.ready() && second.ready());
  setenv("UNIFIEDPUSH_DISTRIBUTOR", "zzz", 1);
  auto service = makeService();
  registerWith(*service);
  EXPECT_TRUE(first.registrations().empty());
  EXPECT_EQ(second.registrations().size(), 1u);

  setenv("UNIFIEDPUSH_DISTRIBUTOR", "gone", 1);
  service.reset();
  waitForTheNameToBeFree();
  auto other = makeService();
  other->registerForRemoteNotificationTypes(kPushAlert);
  ASSERT_TRUE(serveUntil([&] { return !delegate_.failures.empty(); }));
  EXPECT_NE(delegate_.failures[0].find("org.unifiedpush.Distributor.gone"), std::string::npos);
}

TEST_F(UnifiedPush, HostileMessagesAndOtherPeersNeverReachTheApp) {
  StandInDistributor distributor(bus_.address(), {});
  ASSERT_TRUE(distributor.ready());
  auto service = makeService();
  registerWith(*service);
  testing::CapturedLog log;
  ASSERT_TRUE(distributor.peer().waitForAnswers(1));  // to NewEndpoint
  size_t answers = distributor.peer().answers().size();
  const std::string huge = R"({"aps": {"alert": ")" + std::string(kMaxPushMessageBytes, 'x') + R"("}})";
  for (const std::string& body : {std::string(), huge, std::string("{\"aps\": {"), std::string("[1, 2]"),
                                  std::string("Lunch at noon?"), std::string("{\"a\": \"\xff\xfe\"}"),
                                  std::string("noise {\"a\": 1} noise")}) {
    distributor.sendMessage(body);
    settle(distributor.peer(), ++answers);
  }
  EXPECT_TRUE(delegate_.payloads.empty());
  EXPECT_EQ(log.containing("push: dropped a message").size(), 7u) << log.all();
  EXPECT_EQ(badge_.applicationIconBadgeNumber(), 0);

  // Another peer that pretends to be the distributor, with the right token.
  BusPeer impostor(bus_.address());
  const std::string token = distributor.registrations().at(0).token;
  impostor.call("org.tavero.test.push_app", "/org/unifiedpush/Connector", "org.unifiedpush.Connector2", "Message",
                g_variant_new_parsed("({'token': <%s>, 'message': <b'{\"aps\": {\"badge\": 9}}'>},)", token.c_str()));
  impostor.call("org.tavero.test.push_app", "/org/unifiedpush/Connector", "org.unifiedpush.Connector1",
                "NewEndpoint", g_variant_new("(ss)", token.c_str(), "https://evil.example.net/"));
  impostor.call("org.tavero.test.push_app", "/org/unifiedpush/Connector", "org.unifiedpush.Connector2",
                "Unregistered", g_variant_new_parsed("({'token': <%s>},)", token.c_str()));
  serveUntil([&] { return impostor.answers().size() == 3; });
  EXPECT_EQ(impostor.answers(), std::vector<std::string>(3, "error org.freedesktop.DBus.Error.AccessDenied"));
  EXPECT_EQ(service->endpoint(), "https://push.example.org/up/5Ew9jwBmf0SEYnJdE0Kq");
  EXPECT_TRUE(log.has("which is not the UnifiedPush distributor"));

  // The distributor itself with a bad endpoint, or another token: ignored.
  distributor.sendNewEndpoint("javascript:alert(1)");
  settle(distributor.peer(), ++answers);
  EXPECT_EQ(service->endpoint(), "https://push.example.org/up/5Ew9jwBmf0SEYnJdE0Kq");

  // And a proper message still arrives.
  distributor.sendMessage(R"({"aps": {"badge": 2}})");
  ASSERT_TRUE(serveUntil([&] { return delegate_.payloads.size() == 1; }));
  EXPECT_EQ(badge_.applicationIconBadgeNumber(), 2);
  EXPECT_EQ(delegate_.tokens.size(), 1u);
}

TEST(UnifiedPushNames, BundleIdsBecomeValidBusNames) {
  EXPECT_EQ(UnifiedPushService::connectorBusName("com.example.notes"), "com.example.notes");
  EXPECT_EQ(UnifiedPushService::connectorBusName("com.example.my-app"), "com.example.my_app");
  EXPECT_EQ(UnifiedPushService::connectorBusName("2048.game.v2"), "_2048.game.v2");
  EXPECT_EQ(UnifiedPushService::connectorBusName("notes"), "app.tavero.notes");
  EXPECT_EQ(UnifiedPushService::connectorBusName("..a..b.."), "a.b");
  EXPECT_EQ(UnifiedPushService::connectorBusName("caf\xc3\xa9.app"), "caf__.app");
  EXPECT_EQ(UnifiedPushService::connectorBusName(""), std::nullopt);
  EXPECT_EQ(UnifiedPushService::connectorBusName("a." + std::string(300, 'b')), std::nullopt);
}

TEST(UnifiedPushNames, OnlyHttpURLsWithoutSpacesAreEndpoints) {
  EXPECT_TRUE(UnifiedPushService::isAcceptableEndpoint("https://ntfy.example.org/upAbc?up=1"));
  EXPECT_TRUE(UnifiedPushService::isAcceptableEndpoint("http://127.0.0.1:8080/up"));
  for (const std::string& bad : {std::string(), std::string("ftp://x/"), std::string("https://x/ y"),
                                 std::string("https://x/\n"), "https://x/" + std::string(3000, 'a')})
    EXPECT_FALSE(UnifiedPushService::isAcceptableEndpoint(bad)) << bad;
}

TEST(PushMessages, OnlyAJsonObjectOfUtf8TextWithinTheLimitIsAPayload) {
  auto payload = pushPayloadFromMessage(" {\"aps\": {\"alert\": \"h\xc3\xa9\"}}\n");
  ASSERT_TRUE(std::holds_alternative<json::Object>(payload));
  EXPECT_TRUE(std::get<json::Object>(payload).find("aps"));
  std::string limit = "{\"a\": \"" + std::string(kMaxPushMessageBytes - 9, 'x') + "\"}";
  ASSERT_EQ(limit.size(), kMaxPushMessageBytes);
  EXPECT_TRUE(std::holds_alternative<json::Object>(pushPayloadFromMessage(limit)));
  EXPECT_EQ(std::get<std::string>(pushPayloadFromMessage(limit + " ")),
            "the message has 4097 bytes, more than the 4096 a push message may have");
  EXPECT_EQ(std::get<std::string>(pushPayloadFromMessage("{\"a\": \"\xc0\xaf\"}")), "the message is not UTF-8 text");
  const std::string nested = "{\"a\": " + std::string(1000, '[') + std::string(1000, ']') + "}";
  EXPECT_EQ(std::get<std::string>(pushPayloadFromMessage(nested)), "the message is not a JSON object");
  for (const char* bad : {"", "null", "[{}]", "{\"a\": 1} trailing", "{\"a\":", "\"{}\""})
    EXPECT_EQ(std::get<std::string>(pushPayloadFromMessage(bad)), "the message is not a JSON object") << bad;
}

}  // namespace
}  // namespace tavero::platform
