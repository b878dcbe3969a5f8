#include "support/StandInNotificationServer.h"

#include <gio/gio.h>

#include <utility>

namespace tavero::testing {
namespace {

constexpr const char* kXml = R"(<node>
  <interface name="org.freedesktop.Notifications">
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/>
    </method>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
  </interface>
</node>)";

}  // namespace

StandInNotificationServer::StandInNotificationServer(const std::string& address,
                                                     std::vector<std::string> capabilities)
    : capabilities_(std::move(capabilities)), peer_(address) {
  peer_.run([&](GDBusConnection* connection) {
    static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kXml, nullptr);
    static const GDBusInterfaceVTable vtable = {
        [](GDBusConnection*, const char*, const char*, const char*, const char* method, GVariant* parameters,
           GDBusMethodInvocation* invocation, gpointer self) {
          auto* server = static_cast<StandInNotificationServer*>(self);
          if (g_str_equal(method, "GetCapabilities")) {
            GVariantBuilder names;
            g_variant_builder_init(&names, G_VARIANT_TYPE("as"));
            for (const auto& name : server->capabilities_) g_variant_builder_add(&names, "s", name.c_str());
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(as)", &names));
          } else if (g_str_equal(method, "Notify")) {
            const char *appName, *icon, *summary, *body;
            guint32 replaces;
            GVariantIter* actions;
            GVariant* hints;
            gint32 timeout;
            g_variant_get(parameters, "(&su&s&s&sas@a{sv}i)", &appName, &replaces, &icon, &summary, &body, &actions,
                          &hints, &timeout);
            Notification notification{server->nextId_++, appName, summary, body, {}};
            const char* action;
            while (g_variant_iter_loop(actions, "&s", &action)) notification.actions.emplace_back(action);
            g_variant_iter_free(actions);
            g_variant_unref(hints);
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", notification.id));
            server->notified(std::move(notification));
          } else if (g_str_equal(method, "GetServerInformation")) {
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(ssss)", "stand-in", "tests", "1", "1.2"));
          } else {
            g_dbus_method_invocation_return_value(invocation, nullptr);
          }
        },
        nullptr, nullptr, {}};
    g_dbus_connection_register_object(connection, "/org/freedesktop/Notifications", node->interfaces[0], &vtable,
                                      this, nullptr, nullptr);
    ownership_ = g_bus_own_name_on_connection(
        connection, "org.freedesktop.Notifications", G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection*, const char*, gpointer self) {
          static_cast<StandInNotificationServer*>(self)->ownership(true);
        },
        [](GDBusConnection*, const char*, gpointer self) {
          static_cast<StandInNotificationServer*>(self)->ownership(false);
        },
        this, nullptr);
  });
  auto future = owned_.get_future();
  ready_ = future.wait_for(std::chrono::seconds(10)) == std::future_status::ready && future.get();
}

StandInNotificationServer::~StandInNotificationServer() {
  peer_.run([&](GDBusConnection*) {
    if (ownership_) g_bus_unown_name(ownership_);
  });
}

void StandInNotificationServer::ownership(bool owned) {
  if (!std::exchange(ownershipKnown_, true)) owned_.set_value(owned);
}

void StandInNotificationServer::notified(Notification notification) {
  std::lock_guard lock(mutex_);
  notifications_.push_back(std::move(notification));
  changed_.notify_all();
}

std::vector<StandInNotificationServer::Notification> StandInNotificationServer::notifications() const {
  std::lock_guard lock(mutex_);
  return notifications_;
}

bool StandInNotificationServer::waitForNotifications(size_t count, int seconds) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::seconds(seconds), [&] { return notifications_.size() >= count; });
}

void StandInNotificationServer::invokeAction(uint32_t id, const std::string& action) {
  peer_.run([&](GDBusConnection* connection) {
    g_dbus_connection_emit_signal(connection, nullptr, "/org/freedesktop/Notifications",
                                  "org.freedesktop.Notifications", "ActionInvoked",
                                  g_variant_new("(us)", id, action.c_str()), nullptr);
  });
}

}  // namespace tavero::testing
