// Desktop notifications against a stand-in notification server on a private
// session bus: what Notify is given (the body escaped only for a server that
// reads markup), a click on the notification (and only the server's own
// ActionInvoked "default") activates it once, and a desktop without a
// server costs a log line and nothing else.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include "platform/linux/FreedesktopNotifier.h"
#include "platform/linux/GLibMainThread.h"
#include "support/CapturedLog.h"
#include "support/PrivateSessionBus.h"
#include "support/StandInNotificationServer.h"

namespace tavero::platform {
namespace {

using testing::StandInNotificationServer;

class DesktopNotifications : public ::testing::Test {
 protected:
  // Serves the main loop until `done`, which the bus peers' threads may
  // make true: a ticking timer has the loop look again.
  bool serveUntil(const std::function<bool()>& done) {
    guint tick = g_timeout_add(5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool reached = mainThread_.runUntil(done, std::chrono::seconds(10));
    g_source_remove(tick);
    return reached;
  }

  testing::PrivateSessionBus bus_;
  GLibMainThread mainThread_;
};

TEST_F(DesktopNotifications, NotifyCarriesTheEscapedTextAndOnlyTheServersDefaultActionActivatesOnce) {
  StandInNotificationServer server(bus_.address());
  ASSERT_TRUE(server.ready());
  FreedesktopNotifier notifier("Notes & Co");
  int activations = 0;
  notifier.show({"Lunch <b>at noon</b>?", "Fish & <i>chips</i>"}, [&] { ++activations; });
  ASSERT_TRUE(serveUntil([&] { return !server.notifications().empty(); }));
  auto shown = server.notifications().at(0);
  EXPECT_EQ(shown.appName, "Notes & Co");
  EXPECT_EQ(shown.summary, "Lunch <b>at noon</b>?");  // summaries are never markup
  EXPECT_EQ(shown.body, "Fish &amp; &lt;i&gt;chips&lt;/i&gt;");
  EXPECT_EQ(shown.actions, (std::vector<std::string>{"default", "Open"}));
  mainThread_.runFor(std::chrono::milliseconds(100));  // the id is known

  // Another program sending the server's signal, and other actions: nothing.
  testing::BusPeer impostor(bus_.address());
  impostor.run([&](GDBusConnection* connection) {
    g_dbus_connection_emit_signal(connection, nullptr, "/org/freedesktop/Notifications",
                                  "org.freedesktop.Notifications", "ActionInvoked",
                                  g_variant_new("(us)", shown.id, "default"), nullptr);
  });
  server.invokeAction(shown.id, "snooze");
  server.invokeAction(shown.id + 1, "default");
  mainThread_.runFor(std::chrono::milliseconds(300));
  EXPECT_EQ(activations, 0);

  server.invokeAction(shown.id);
  ASSERT_TRUE(serveUntil([&] { return activations == 1; }));
  server.invokeAction(shown.id);
  mainThread_.runFor(std::chrono::milliseconds(200));
  EXPECT_EQ(activations, 1);
}

TEST_F(DesktopNotifications, APlainServerGetsThePlainTextAndNoActions) {
  StandInNotificationServer server(bus_.address(), {"body"});
  ASSERT_TRUE(server.ready());
  FreedesktopNotifier notifier("Notes");
  notifier.show({"One", "a < b & c"}, [] {});
  notifier.show({"Two", std::string("cut \xff here")}, [] {});
  ASSERT_TRUE(serveUntil([&] { return server.notifications().size() == 2; }));
  EXPECT_EQ(server.notifications()[0].body, "a < b & c");
  EXPECT_TRUE(server.notifications()[0].actions.empty());
  EXPECT_EQ(server.notifications()[1].body, "cut \xef\xbf\xbd here");
}

TEST_F(DesktopNotifications, WithoutAServerTheLogSaysSoOnceAndNothingElseHappens) {
  testing::CapturedLog log;
  FreedesktopNotifier notifier("Notes");
  bool activated = false;
  notifier.show({"One", "text"}, [&] { activated = true; });
  ASSERT_TRUE(serveUntil([&] { return log.has("notifications: no desktop notifications"); }));
  notifier.show({"Two", "text"}, [&] { activated = true; });
  mainThread_.runFor(std::chrono::milliseconds(300));
  EXPECT_EQ(log.containing("notifications: no desktop notifications").size(), 1u) << log.all();
  EXPECT_FALSE(activated);
}

TEST(DesktopNotificationText, IsCutAtACharacterAndEscapedOnlyForMarkup) {
  EXPECT_EQ(FreedesktopNotifier::serverText("caf\xc3\xa9", 4, false), "caf");
  EXPECT_EQ(FreedesktopNotifier::serverText("caf\xc3\xa9", 5, false), "caf\xc3\xa9");
  EXPECT_EQ(FreedesktopNotifier::serverText("<a href='x'>&", 100, true), "&lt;a href=&apos;x&apos;&gt;&amp;");
  EXPECT_EQ(FreedesktopNotifier::serverText("<a>", 100, false), "<a>");
}

}  // namespace
}  // namespace tavero::platform
