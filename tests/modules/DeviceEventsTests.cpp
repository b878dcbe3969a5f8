#include <gtest/gtest.h>

#include "host/TQViewManager.h"
#include "modules/RecordingCallbacks.h"
#include "modules/TQDevice.h"
#include "modules/TQOpenURL.h"
#include "modules/TQPushNotification.h"
#include "modules/URLOpeningPolicy.h"
#include "platform/sim/RecordingURLOpener.h"
#include "support/RecordingWebView.h"

namespace tavero::modules {
namespace {

using test::RecordingCallbacks;
using Delivery = RecordingCallbacks::Delivery;

TEST(TQDevice, NothingIsDeliveredBeforeAWatchAndAWatchWithoutCallbackGetsId0) {
  RecordingCallbacks callbacks;
  TQDevice device(callbacks);
  device.onDevicePause();
  EXPECT_TRUE(callbacks.take().empty());
  EXPECT_EQ(device.watchCallback(), TQDevice::kNoWatcher);

  test::call(device, "watch", {{"__source", "file:///bundle/webapp/index.html"}});
  device.onDevicePause();
  EXPECT_EQ(callbacks.take(), (std::vector<Delivery>{{0, json::Value("pause"), "index.html"}}));
}

TEST(TQDevice, TheLatestWatchChoosesTheIdAndThePageFromItsSource) {
  RecordingCallbacks callbacks;
  TQDevice device(callbacks);
  test::call(device, "watch", {{"callback", "3"}, {"__source", "file:///app/index.html"}});
  test::call(device, "watch", {{"callback", "7"}, {"__source", "file:///app/main.html?x=1#top"}});
  device.onDevicePause();
  device.onDeviceResume();
  EXPECT_EQ(callbacks.take(), (std::vector<Delivery>{{7, json::Value("pause"), "main.html"},
                                                     {7, json::Value("resume"), "main.html"}}));
  // A watch without a source answers into index.html.
  test::call(device, "watch", {{"callback", "8"}});
  EXPECT_EQ(device.callbackPage(), "index.html");
}

// The wait for the page's report on its pause handlers: only a watcher that
// said it reports is waited for, and only its report on this very pause
// (or its replacement) ends the wait.
TEST(TQDevice, APauseEndsWhenTheWatchingPageReportsOnThatPause) {
  RecordingCallbacks callbacks;
  TQDevice device(callbacks);
  int ran = 0;
  device.onDevicePause([&] { ++ran; });  // nobody watches
  EXPECT_EQ(ran, 1);
  test::call(device, "watch", {{"callback", "3"}});  // an older page that never reports
  device.onDevicePause([&] { ++ran; });
  EXPECT_EQ(ran, 2);

  test::call(device, "watch", {{"callback", "4"}, {"acknowledgesPause", "true"}});
  device.onDevicePause([&] { ++ran; });
  EXPECT_EQ(ran, 2);
  test::call(device, "paused", {{"pause", "0"}});  // not this pause
  EXPECT_EQ(ran, 2);
  test::call(device, "paused", {{"pause", "1"}});
  EXPECT_EQ(ran, 3);
  test::call(device, "paused", {{"pause", "1"}});  // reported twice: called once
  EXPECT_EQ(ran, 3);

  // Pause 2 goes unanswered; pause 3 ends it, and the late report of 2 does not end 3.
  int second = 0, third = 0;
  device.onDevicePause([&] { ++second; });
  device.onDevicePause([&] { ++third; });
  EXPECT_EQ(second, 1);
  test::call(device, "paused", {{"pause", "2"}});
  EXPECT_EQ(third, 0);
  // A page that watches anew cannot report on the old page's pause.
  test::call(device, "watch", {{"callback", "5"}, {"acknowledgesPause", "true"}});
  EXPECT_EQ(third, 1);
  EXPECT_EQ(callbacks.take().size(), 4u);  // every pause after the first watch reached the page
}

TEST(URLOpeningPolicy, PagesOpenWebMailAndAppLinksButNoFilesScriptsOrMalformedText) {
  for (const char* allowed : {"https://example.org/a?b=c#d", "HTTP://EXAMPLE.ORG", "mailto:kim@example.org",
                              "tel:+4912345", "otherapp://compose?to=kim", "x-app.v2+beta:go"}) {
    EXPECT_TRUE(urlOpeningVerdict(allowed).allowed) << allowed;
  }
  for (const char* refused : {"file:///etc/passwd", "FILE:/etc/passwd", "javascript:alert(1)", "data:text/html,x",
                              "smb://server/share", "sftp://host/x", "trash:///", "about:blank", "", "no scheme",
                              "/etc/passwd", "https://example.org/a b", "https://example.org/\nx", "1http://x",
                              "http://exa\"mple.org", "://x"}) {
    URLOpeningVerdict verdict = urlOpeningVerdict(refused);
    EXPECT_FALSE(verdict.allowed) << refused;
    EXPECT_FALSE(verdict.reason.empty()) << refused;
  }
  EXPECT_FALSE(urlOpeningVerdict("https://example.org/" + std::string(40000, 'a')).allowed);
  EXPECT_EQ(urlOpeningVerdict("HTTPS://x").scheme, "https");
}

TEST(TQOpenURL, OpenHandsOnlyAllowedURLsToTheDevice) {
  platform::RecordingURLOpener opener;
  TQOpenURL openURL(nullptr, &opener, {});
  test::call(openURL, "open", {{"url", "https://example.org"}});
  test::call(openURL, "open", {{"url", "file:///home/kim/.ssh/id_rsa"}});
  test::call(openURL, "open", {});
  auto opened = opener.openedURLs();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].url, "https://example.org");
}

// Two pages with views; an incoming URL reaches both as device.scheme.
class IncomingURL : public ::testing::Test {
 protected:
  tavero::testing::RecordingWebViewHost host_;
  host::TQViewManager views_{host_, "/bundle/webapp", [this] {
                               return host::PageDeviceInformation{.platformName = "p", .name = "n", .uuid = {},
                                                                  .scheme = openURL_.scheme()};
                             }};
  RecordingCallbacks callbacks_;
  TQOpenURL openURL_{&callbacks_, nullptr, [this] { views_.updateApplicationScheme(); }};

  static bool definesScheme(const tavero::testing::RecordingWebView& view, const std::string& fragment) {
    for (const auto& script : view.documentStartScripts)
      if (script.find("'scheme'") != std::string::npos && script.find(fragment) != std::string::npos) return true;
    return false;
  }
};

TEST_F(IncomingURL, TheRecordReachesEveryViewAndTheWatchingPage) {
  views_.webViewForPage("index.html", true);
  views_.webViewForPage("main.html", true);
  EXPECT_FALSE(openURL_.scheme());
  EXPECT_FALSE(definesScheme(*host_.created[0], "url:"));

  test::call(openURL_, "watch", {{"callback", "5"}, {"__source", "file:///bundle/webapp/main.html"}});
  openURL_.openURL("myapp://a", "org.example.mail");
  openURL_.openURL("myapp://b?q='x'", "");
  ASSERT_TRUE(openURL_.scheme());
  EXPECT_EQ(*openURL_.scheme(), (host::IncomingURLRecord{"myapp://b?q='x'", ""}));
  for (auto* view : host_.created) EXPECT_TRUE(definesScheme(*view, "myapp://b?q=\\'x\\'")) << view->pageName();

  json::Object second;
  second.append("url", "myapp://b?q='x'");
  second.append("sourceApplication", "");
  auto delivered = callbacks_.take();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[1], (Delivery{5, json::Value(second), "main.html"}));
}

TEST_F(IncomingURL, AWatchWithoutCallbackOrSourceStillUpdatesTheGlobals) {
  views_.webViewForPage("index.html", true);
  test::call(openURL_, "watch", {});
  openURL_.openURL("myapp://c", "org.example.mail");
  EXPECT_TRUE(callbacks_.take().empty());  // id 0 is never called
  EXPECT_TRUE(definesScheme(*host_.created[0], "myapp://c"));

  test::call(openURL_, "watch", {{"callback", "2"}});
  openURL_.openURL("myapp://d", "org.example.mail");
  auto delivered = callbacks_.take();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].page, "");  // no page: the start page
}

class FakePushService : public platform::PushService {
 public:
  void setDelegate(platform::PushServiceDelegate*) override {}
  void registerForRemoteNotificationTypes(unsigned types) override { requested.push_back(types); }
  std::vector<unsigned> requested;
};

TEST(TQPushNotification, PageKindsBecomeThePushServicesBits) {
  EXPECT_EQ(TQPushNotification::platformNotificationTypes(7), 7u);
  EXPECT_EQ(TQPushNotification::platformNotificationTypes(3), 5u);  // alert and badge
  EXPECT_EQ(TQPushNotification::platformNotificationTypes(1), 4u);  // alert only
  EXPECT_EQ(TQPushNotification::platformNotificationTypes(0), 0u);
  EXPECT_EQ(TQPushNotification::platformNotificationTypes(8 | 4), 2u);  // unknown bits dropped
}

TEST(TQPushNotification, OutcomesGoToTheLatestRegistrationsCallbacksInTheStartPage) {
  RecordingCallbacks callbacks;
  FakePushService push;
  TQPushNotification module(callbacks, &push);
  test::call(module, "Register", {{"type", "1"}, {"success", "1"}, {"failure", "2"}, {"received", "3"}});
  test::call(module, "Register",
                {{"type", "3"}, {"success", "4"}, {"failure", "5"}, {"received", "6"}, {"__source", "x/main.html"}});
  EXPECT_EQ(push.requested, (std::vector<unsigned>{4, 5}));

  module.didRegisterToReceiveRemoteNotifications("0abc12ef");
  module.failedToReceiveRemoteNotificationWithError("no network");
  json::Object payload;
  payload.append("aps", json::Object());
  module.didReceiveRemoteNotification(payload);
  EXPECT_EQ(callbacks.take(), (std::vector<Delivery>{{4, json::Value("0abc12ef"), ""},
                                                     {5, json::Value("no network"), ""},
                                                     {6, json::Value(payload), ""}}));
}

TEST(TQPushNotification, WithoutAPushServiceRegisteringFailsWithAMessage) {
  RecordingCallbacks callbacks;
  TQPushNotification module(callbacks, nullptr);
  test::call(module, "Register", {{"type", "7"}, {"success", "1"}, {"failure", "2"}});
  auto delivered = callbacks.take();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].id, 2);
}

}  // namespace
}  // namespace tavero::modules
