#include "support/StandInDistributor.h"

#include <gio/gio.h>

#include <future>
#include <utility>

namespace tavero::testing {
namespace {

constexpr const char* kXml = R"(<node>
  <interface name="org.unifiedpush.Distributor2">
    <method name="Register"><arg type="a{sv}" direction="in"/><arg type="a{sv}" direction="out"/></method>
    <method name="Unregister"><arg type="a{sv}" direction="in"/><arg type="a{sv}" direction="out"/></method>
  </interface>
  <interface name="org.unifiedpush.Distributor1">
    <method name="Register"><arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="out"/><arg type="s" direction="out"/></method>
    <method name="Unregister"><arg type="s" direction="in"/></method>
  </interface>
</node>)";

std::string member(GVariant* dictionary, const char* key) {
  const char* value = nullptr;
  return g_variant_lookup(dictionary, key, "&s", &value) ? value : "";
}

}  // namespace

StandInDistributor::StandInDistributor(const std::string& address, Options options)
    : options_(std::move(options)), peer_(address) {
  peer_.run([&](GDBusConnection* connection) {
    static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kXml, nullptr);
    static const GDBusInterfaceVTable vtable = {
        [](GDBusConnection*, const char* sender, const char*, const char* interface, const char*,
           GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
          auto* distributor = static_cast<StandInDistributor*>(self);
          bool two = g_str_equal(interface, "org.unifiedpush.Distributor2");
          const char* method = g_dbus_method_invocation_get_method_name(invocation);
          if (g_str_equal(method, "Unregister")) {
            g_dbus_method_invocation_return_value(invocation, two ? g_variant_new_parsed("(@a{sv} {},)") : nullptr);
            return;
          }
          Registration registration{.sender = sender, .service = {}, .token = {}, .description = {}};
          if (two) {
            GVariant* arguments = g_variant_get_child_value(parameters, 0);
            registration.service = member(arguments, "service");
            registration.token = member(arguments, "token");
            registration.description = member(arguments, "description");
            g_variant_unref(arguments);
          } else {
            const char *service, *token, *description;
            g_variant_get(parameters, "(&s&s&s)", &service, &token, &description);
            registration = {sender, service, token, description};
          }
          const auto& refusal = distributor->options_.refusal;
          const char* outcome = refusal ? "REGISTRATION_FAILED" : "REGISTRATION_SUCCEEDED";
          std::string reason = refusal.value_or("");
          if (two) {
            GVariantBuilder answer;
            g_variant_builder_init(&answer, G_VARIANT_TYPE("a{sv}"));
            g_variant_builder_add(&answer, "{sv}", "success", g_variant_new_string(outcome));
            if (refusal) g_variant_builder_add(&answer, "{sv}", "reason", g_variant_new_string(reason.c_str()));
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(a{sv})", &answer));
          } else {
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(ss)", outcome, reason.c_str()));
          }
          distributor->registered(std::move(registration));
        },
        nullptr, nullptr, {}};
    // Version 1 alone, or both as a version 2 distributor offers them.
    object_ = g_dbus_connection_register_object(connection, "/org/unifiedpush/Distributor",
                                                node->interfaces[options_.version == 2 ? 0 : 1], &vtable, this,
                                                nullptr, nullptr);
    if (options_.version == 2)
      g_dbus_connection_register_object(connection, "/org/unifiedpush/Distributor", node->interfaces[1], &vtable,
                                        this, nullptr, nullptr);
    ownership_ = g_bus_own_name_on_connection(
        connection, busName().c_str(), G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection*, const char*, gpointer self) { static_cast<StandInDistributor*>(self)->ownership(true); },
        [](GDBusConnection*, const char*, gpointer self) { static_cast<StandInDistributor*>(self)->ownership(false); },
        this, nullptr);
  });
  auto future = owned_.get_future();
  ready_ = future.wait_for(std::chrono::seconds(10)) == std::future_status::ready && future.get();
}

StandInDistributor::~StandInDistributor() {
  peer_.run([&](GDBusConnection*) {
    if (ownership_) g_bus_unown_name(ownership_);
  });
}

void StandInDistributor::ownership(bool owned) {
  if (!std::exchange(ownershipKnown_, true)) owned_.set_value(owned);
}

void StandInDistributor::registered(Registration registration) {
  std::string service = registration.service;
  std::string token = registration.token;
  {
    std::lock_guard lock(mutex_);
    registrations_.push_back(std::move(registration));
    changed_.notify_all();
  }
  if (!options_.refusal) sendNewEndpoint(options_.endpoint);
}

std::vector<StandInDistributor::Registration> StandInDistributor::registrations() const {
  std::lock_guard lock(mutex_);
  return registrations_;
}

bool StandInDistributor::waitForRegistrations(size_t count, int seconds) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::seconds(seconds), [&] { return registrations_.size() >= count; });
}

void StandInDistributor::sendNewEndpoint(const std::string& endpoint) {
  auto last = registrations().back();
  if (options_.version == 2) {
    GVariantBuilder arguments;
    g_variant_builder_init(&arguments, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&arguments, "{sv}", "token", g_variant_new_string(last.token.c_str()));
    g_variant_builder_add(&arguments, "{sv}", "endpoint", g_variant_new_string(endpoint.c_str()));
    peer_.call(last.service, "/org/unifiedpush/Connector", "org.unifiedpush.Connector2", "NewEndpoint",
               g_variant_new("(a{sv})", &arguments));
  } else {
    peer_.call(last.service, "/org/unifiedpush/Connector", "org.unifiedpush.Connector1", "NewEndpoint",
               g_variant_new("(ss)", last.token.c_str(), endpoint.c_str()));
  }
}

void StandInDistributor::sendMessage(const std::string& bytes, const std::string& id) {
  auto last = registrations().back();
  GVariant* body = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes.data(), bytes.size(), 1);
  if (options_.version == 2) {
    GVariantBuilder arguments;
    g_variant_builder_init(&arguments, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&arguments, "{sv}", "token", g_variant_new_string(last.token.c_str()));
    g_variant_builder_add(&arguments, "{sv}", "message", body);
    g_variant_builder_add(&arguments, "{sv}", "id", g_variant_new_string(id.c_str()));
    peer_.call(last.service, "/org/unifiedpush/Connector", "org.unifiedpush.Connector2", "Message",
               g_variant_new("(a{sv})", &arguments));
  } else {
    peer_.call(last.service, "/org/unifiedpush/Connector", "org.unifiedpush.Connector1", "Message",
               g_variant_new("(s@ays)", last.token.c_str(), body, id.c_str()));
  }
}

void StandInDistributor::sendUnregistered() {
  auto last = registrations().back();
  if (options_.version == 2) {
    peer_.call(last.service, "/org/unifiedpush/Connector", "org.unifiedpush.Connector2", "Unregistered",
               g_variant_new_parsed("({'token': <%s>},)", last.token.c_str()));
  } else {
    peer_.call(last.service, "/org/unifiedpush/Connector", "org.unifiedpush.Connector1", "Unregistered",
               g_variant_new("(s)", last.token.c_str()));
  }
}

}  // namespace tavero::testing
