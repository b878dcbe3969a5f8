#include "platform/linux/UnifiedPushService.h"

#include <gio/gio.h>

#include <algorithm>
#include <cstdlib>

#include "base/AtomicFile.h"
#include "base/FileRead.h"
#include "json/Utf8.h"
#include "log/Log.h"
#include "platform/PushDelivery.h"
#include "platform/linux/SessionBusConnection.h"
#include "platform/linux/UnifiedPushConnectorCall.h"

namespace tavero::platform {
namespace {

constexpr const char* kConnectorPath = "/org/unifiedpush/Connector";
constexpr const char* kDistributorPath = "/org/unifiedpush/Distributor";
constexpr const char* kDistributorPrefix = "org.unifiedpush.Distributor.";
constexpr const char* kDistributor1 = "org.unifiedpush.Distributor1";
constexpr const char* kDistributor2 = "org.unifiedpush.Distributor2";
constexpr const char* kConnector1 = "org.unifiedpush.Connector1";
constexpr const char* kConnector2 = "org.unifiedpush.Connector2";
constexpr const char* kSucceeded = "REGISTRATION_SUCCEEDED";
constexpr const char* kAccessDenied = "org.freedesktop.DBus.Error.AccessDenied";
constexpr const char* kInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
// A distributor may ask its user before it answers Register.
constexpr int kRegisterTimeoutMs = 60000;
constexpr int kCallTimeoutMs = 10000;
constexpr size_t kMaxTokenBytes = 64;

// The connector object as both versions describe it.
constexpr const char* kConnectorXml = R"(<node>
  <interface name="org.unifiedpush.Connector2">
    <method name="Message"><arg type="a{sv}" direction="in"/><arg type="a{sv}" direction="out"/></method>
    <method name="NewEndpoint"><arg type="a{sv}" direction="in"/><arg type="a{sv}" direction="out"/></method>
    <method name="Unregistered"><arg type="a{sv}" direction="in"/><arg type="a{sv}" direction="out"/></method>
  </interface>
  <interface name="org.unifiedpush.Connector1">
    <method name="Message"><arg type="s" direction="in"/><arg type="ay" direction="in"/><arg type="s" direction="in"/></method>
    <method name="NewEndpoint"><arg type="s" direction="in"/><arg type="s" direction="in"/></method>
    <method name="Unregistered"><arg type="s" direction="in"/></method>
  </interface>
</node>)";

bool cancelled(GError* error) { return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED); }

std::string errorText(GError* error) {
  gchar* remote = g_dbus_error_get_remote_error(error);
  std::string text = remote ? std::string(remote) + ": " : std::string();
  g_free(remote);
  GError* copy = g_error_copy(error);
  g_dbus_error_strip_remote_error(copy);
  text += copy->message;
  g_error_free(copy);
  return text;
}

bool isTokenText(const std::string& token) {
  return !token.empty() && token.size() <= kMaxTokenBytes && std::all_of(token.begin(), token.end(), [](char c) {
    return g_ascii_isalnum(c) || c == '-' || c == '_';
  });
}

// A string member of an a{sv} argument, or "".
std::string stringMember(GVariantDict* dict, const char* key) {
  const char* value = nullptr;
  return g_variant_dict_lookup(dict, key, "&s", &value) ? std::string(value) : std::string();
}

}  // namespace

struct UnifiedPushCallbacks {
  static UnifiedPushService* finish(GObject* source, GAsyncResult* result, gpointer self, GVariant** reply,
                                    std::string* error) {
    GError* failure = nullptr;
    *reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &failure);
    if (failure) {
      bool gone = cancelled(failure);  // the service is gone
      *error = errorText(failure);
      g_error_free(failure);
      if (gone) return nullptr;
    }
    return static_cast<UnifiedPushService*>(self);
  }

  static void nameAcquired(GDBusConnection*, const char* name, gpointer self) {
    auto* service = static_cast<UnifiedPushService*>(self);
    service->nameAcquired_ = true;
    log::info(std::string("push: the app owns the bus name ") + name);
    if (service->inProgress_) service->chooseDistributor();
  }

  static void nameLost(GDBusConnection*, const char* name, gpointer self) {
    auto* service = static_cast<UnifiedPushService*>(self);
    bool had = std::exchange(service->nameAcquired_, false);
    service->nameLost_ = true;
    service->fail(std::string("the bus name ") + name +
                  (had ? " was taken from the app" : " belongs to another program (is the app running twice?)"));
  }

  static void listed(GObject* source, GAsyncResult* result, gpointer self) {
    GVariant* reply = nullptr;
    std::string error;
    auto* service = finish(source, result, self, &reply, &error);
    if (!service) return;
    if (!reply) {
      service->fail("cannot list the names on the session bus: " + error);
      return;
    }
    std::vector<std::string> names;
    GVariantIter* iter = nullptr;
    const char* name = nullptr;
    g_variant_get(reply, "(as)", &iter);
    while (g_variant_iter_loop(iter, "&s", &name)) {
      if (g_str_has_prefix(name, kDistributorPrefix)) names.emplace_back(name);
    }
    g_variant_iter_free(iter);
    g_variant_unref(reply);
    service->distributorsListed(names);
  }

  static void appeared(GDBusConnection*, const char*, const char* owner, gpointer self) {
    static_cast<UnifiedPushService*>(self)->distributorAppeared(owner);
  }

  static void vanished(GDBusConnection*, const char*, gpointer self) {
    static_cast<UnifiedPushService*>(self)->distributorVanished();
  }

  static void introspected(GObject* source, GAsyncResult* result, gpointer self) {
    GVariant* reply = nullptr;
    std::string error;
    auto* service = finish(source, result, self, &reply, &error);
    if (!service) return;
    if (!reply) {
      service->fail("the UnifiedPush distributor " + service->distributor_ + " does not describe itself: " + error);
      return;
    }
    const char* xml = nullptr;
    g_variant_get(reply, "(&s)", &xml);
    service->introspected(xml);
    g_variant_unref(reply);
  }

  static void registered(GObject* source, GAsyncResult* result, gpointer self) {
    GVariant* reply = nullptr;
    std::string error;
    auto* service = finish(source, result, self, &reply, &error);
    if (!service) return;
    if (!reply) {
      service->fail("the UnifiedPush distributor " + service->distributor_ + " did not register the app: " + error);
      return;
    }
    std::string outcome, reason;
    if (g_variant_is_of_type(reply, G_VARIANT_TYPE("(a{sv})"))) {
      GVariant* members = g_variant_get_child_value(reply, 0);
      GVariantDict dict;
      g_variant_dict_init(&dict, members);
      outcome = stringMember(&dict, "success");
      reason = stringMember(&dict, "reason");
      g_variant_dict_clear(&dict);
      g_variant_unref(members);
    } else {
      const char* first = nullptr;
      const char* second = nullptr;
      g_variant_get(reply, "(&s&s)", &first, &second);
      outcome = first;
      reason = second;
    }
    g_variant_unref(reply);
    service->registrationAnswered(outcome, reason);
  }

  static void methodCall(GDBusConnection*, const char* sender, const char*, const char* interface,
                         const char* method, GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
    static_cast<UnifiedPushService*>(self)->connectorCalled(sender ? sender : "", interface, method, parameters,
                                                            invocation);
  }
};

UnifiedPushService::UnifiedPushService(base::MainThread& mainThread, Options options)
    : mainThread_(mainThread), options_(std::move(options)), cancellable_(g_cancellable_new()) {}

UnifiedPushService::~UnifiedPushService() {
  g_cancellable_cancel(cancellable_);
  if (distributorWatch_) g_bus_unwatch_name(distributorWatch_);
  if (ownedName_) g_bus_unown_name(ownedName_);
  if (connection_) {
    for (unsigned registration : objectRegistrations_) {
      if (registration) g_dbus_connection_unregister_object(connection_, registration);
    }
    // Closing sends what is queued (the name's release) and frees the name
    // at once, for the app's next start.
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_object_unref(connection_);
  }
  g_object_unref(cancellable_);
}

void UnifiedPushService::setDelegate(PushServiceDelegate* delegate) { delegate_ = delegate; }

json::Object UnifiedPushService::status() const {
  json::Object status;
  status.set("source", "unifiedpush");
  status.set("distributor", distributor_.empty() ? json::Value() : json::Value(distributor_));
  status.set("registered", registered_);
  status.set("endpoint", endpoint_ ? json::Value(*endpoint_) : json::Value());
  return status;
}

void UnifiedPushService::registerForRemoteNotificationTypes(unsigned types) {
  log::info("push: the app registers for remote notifications (kinds " + std::to_string(types) +
            ") through a UnifiedPush distributor");
  mainThread_.post(alive_.guard([this] {
    requested_ = true;
    if (registered_ && endpoint_)
      reportEndpoint();
    else if (!inProgress_)
      startRegistration();
  }));
}

std::optional<std::string> UnifiedPushService::connectorBusName(const std::string& bundleIdentifier) {
  std::vector<std::string> elements;
  std::string element;
  auto finish = [&] {
    if (element.empty()) return;
    if (g_ascii_isdigit(element.front())) element.insert(element.begin(), '_');
    elements.push_back(std::exchange(element, {}));
  };
  for (char c : bundleIdentifier) {
    if (c == '.')
      finish();
    else
      element += g_ascii_isalnum(c) || c == '_' ? c : '_';
  }
  finish();
  if (elements.empty()) return std::nullopt;
  if (elements.size() < 2) elements.insert(elements.begin(), {"app", "tavero"});
  std::string name;
  for (const auto& part : elements) name += (name.empty() ? "" : ".") + part;
  if (!g_dbus_is_name(name.c_str()) || g_dbus_is_unique_name(name.c_str())) return std::nullopt;
  return name;
}

bool UnifiedPushService::isAcceptableEndpoint(const std::string& endpoint) {
  if (endpoint.size() > kMaxEndpointBytes || !json::isValidUTF8(endpoint)) return false;
  if (!endpoint.starts_with("https://") && !endpoint.starts_with("http://")) return false;
  return std::none_of(endpoint.begin(), endpoint.end(),
                      [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; });
}

std::string UnifiedPushService::registrationToken() {
  if (auto kept = base::readFileText(options_.tokenFile, kMaxTokenBytes + 2)) {
    std::string token = *kept;
    while (!token.empty() && (token.back() == '\n' || token.back() == '\r')) token.pop_back();
    if (isTokenText(token)) return token;
    log::warning("push: " + options_.tokenFile.string() + " holds no registration token; a new one replaces it");
  }
  gchar* random = g_uuid_string_random();
  std::string token(random);
  g_free(random);
  if (auto error = base::writeFileAtomically(options_.tokenFile, token + "\n"))
    log::warning("push: the registration token cannot be kept (" + *error + "); the next start registers anew");
  return token;
}

void UnifiedPushService::startRegistration() {
  inProgress_ = true;
  registered_ = false;
  if (token_.empty()) {
    token_ = registrationToken();
    endpoint_.reset();  // a new registration gets an endpoint of its own
  }
  if (!exportConnector()) return;
  if (nameLost_) ownBusName();  // another try: its owner may have gone
  if (nameAcquired_) chooseDistributor();  // else once the name is the app's
}

bool UnifiedPushService::exportConnector() {
  if (connection_) return true;
  auto name = connectorBusName(options_.bundleIdentifier);
  if (!name) {
    fail("the bundle id \"" + json::withInvalidUTF8Replaced(options_.bundleIdentifier) +
         "\" gives no valid bus name for the app");
    return false;
  }
  busName_ = *name;
  auto connection = connectToSessionBus();
  if (auto* error = std::get_if<std::string>(&connection)) {
    fail(*error + "; a UnifiedPush distributor is reached through it");
    return false;
  }
  connection_ = std::get<GDBusConnection*>(connection);
  static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kConnectorXml, nullptr);  // kept for the process
  static const GDBusInterfaceVTable vtable = {UnifiedPushCallbacks::methodCall, nullptr, nullptr, {}};
  for (size_t i = 0; i < 2; ++i) {
    GError* error = nullptr;
    objectRegistrations_[i] =
        g_dbus_connection_register_object(connection_, kConnectorPath, node->interfaces[i], &vtable, this, nullptr, &error);
    if (!objectRegistrations_[i]) {
      fail(std::string("cannot offer the connector on the bus: ") + error->message);
      g_error_free(error);
      return false;
    }
  }
  ownBusName();
  return true;
}

void UnifiedPushService::ownBusName() {
  if (ownedName_) g_bus_unown_name(ownedName_);
  nameLost_ = false;
  ownedName_ = g_bus_own_name_on_connection(connection_, busName_.c_str(), G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
                                            UnifiedPushCallbacks::nameAcquired, UnifiedPushCallbacks::nameLost, this,
                                            nullptr);
}

void UnifiedPushService::chooseDistributor() {
  g_dbus_connection_call(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "ListNames", nullptr, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs,
                         cancellable_, UnifiedPushCallbacks::listed, this);
}

void UnifiedPushService::distributorsListed(const std::vector<std::string>& found) {
  std::vector<std::string> names = found;
  std::sort(names.begin(), names.end());
  std::string chosen;
  const char* wanted = std::getenv("UNIFIEDPUSH_DISTRIBUTOR");
  if (wanted && *wanted) {
    std::string name = kDistributorPrefix + std::string(wanted);
    if (std::find(names.begin(), names.end(), name) == names.end()) {
      fail("the UnifiedPush distributor UNIFIEDPUSH_DISTRIBUTOR names (" + name + ") is not on the session bus");
      return;
    }
    chosen = name;
  } else if (!names.empty()) {
    chosen = names.front();
  } else {
    fail("no UnifiedPush distributor on the session bus (no name org.unifiedpush.Distributor.*): "
         "install and start one to receive push notifications");
    return;
  }
  if (chosen == distributor_ && !owner_.empty()) {
    distributorAppeared(owner_);
    return;
  }
  if (distributorWatch_) g_bus_unwatch_name(distributorWatch_);
  distributor_ = chosen;
  owner_.clear();
  log::info("push: registering with the UnifiedPush distributor " + distributor_);
  distributorWatch_ = g_bus_watch_name_on_connection(connection_, distributor_.c_str(), G_BUS_NAME_WATCHER_FLAGS_NONE,
                                                     UnifiedPushCallbacks::appeared, UnifiedPushCallbacks::vanished,
                                                     this, nullptr);
}

void UnifiedPushService::distributorAppeared(const std::string& owner) {
  owner_ = owner;
  if (!inProgress_) return;
  g_dbus_connection_call(connection_, owner_.c_str(), kDistributorPath, "org.freedesktop.DBus.Introspectable",
                         "Introspect", nullptr, G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs,
                         cancellable_, UnifiedPushCallbacks::introspected, this);
}

void UnifiedPushService::distributorVanished() {
  bool wasThere = !owner_.empty();
  owner_.clear();
  if (inProgress_) {
    fail("the UnifiedPush distributor " + distributor_ + " left the session bus");
  } else if (wasThere) {
    log::warning("push: the UnifiedPush distributor " + distributor_ +
                 " left the session bus; notifications come again when it is back");
  }
}

void UnifiedPushService::introspected(const std::string& xml) {
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml.c_str(), nullptr);
  bool two = node && g_dbus_node_info_lookup_interface(node, kDistributor2);
  bool one = node && g_dbus_node_info_lookup_interface(node, kDistributor1);
  if (node) g_dbus_node_info_unref(node);
  if (!two && !one) {
    fail("the UnifiedPush distributor " + distributor_ + " offers neither " + kDistributor2 + " nor " + kDistributor1);
    return;
  }
  version_ = two ? Version::Two : Version::One;
  askRegistration();
}

void UnifiedPushService::askRegistration() {
  std::string description = json::withInvalidUTF8Replaced(options_.displayName);
  GVariant* parameters;
  const char* interface;
  if (version_ == Version::Two) {
    GVariantBuilder members;
    g_variant_builder_init(&members, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&members, "{sv}", "service", g_variant_new_string(busName_.c_str()));
    g_variant_builder_add(&members, "{sv}", "token", g_variant_new_string(token_.c_str()));
    g_variant_builder_add(&members, "{sv}", "description", g_variant_new_string(description.c_str()));
    parameters = g_variant_new("(a{sv})", &members);
    interface = kDistributor2;
  } else {
    parameters = g_variant_new("(sss)", busName_.c_str(), token_.c_str(), description.c_str());
    interface = kDistributor1;
  }
  log::info(std::string("push: asking ") + distributor_ + " for a registration (" + interface + ")");
  g_dbus_connection_call(connection_, owner_.c_str(), kDistributorPath, interface, "Register", parameters,
                         version_ == Version::Two ? G_VARIANT_TYPE("(a{sv})") : G_VARIANT_TYPE("(ss)"),
                         G_DBUS_CALL_FLAGS_NONE, kRegisterTimeoutMs, cancellable_, UnifiedPushCallbacks::registered,
                         this);
}

void UnifiedPushService::registrationAnswered(const std::string& result, const std::string& reason) {
  if (result != kSucceeded) {
    fail("the UnifiedPush distributor " + distributor_ + " refused the registration" +
         (reason.empty() ? std::string() : " (" + json::withInvalidUTF8Replaced(reason.substr(0, 200)) + ")"));
    return;
  }
  inProgress_ = false;
  registered_ = true;
  log::info("push: " + distributor_ + " registered the app" +
            (endpoint_ ? std::string() : "; its endpoint comes next"));
  reportEndpoint();
}

void UnifiedPushService::fail(const std::string& message) {
  inProgress_ = false;
  registered_ = false;
  log::warning("push: " + message);
  if (requested_ && delegate_) delegate_->didFailToRegisterForRemoteNotificationsWithError(message);
}

void UnifiedPushService::reportEndpoint() {
  if (!requested_ || !registered_ || !endpoint_ || !delegate_) return;
  delegate_->didRegisterForRemoteNotificationsWithDeviceToken(std::vector<uint8_t>(endpoint_->begin(), endpoint_->end()));
}

void UnifiedPushService::connectorCalled(const std::string& sender, const std::string& interface,
                                         const std::string& method, GVariant* parameters,
                                         GDBusMethodInvocation* invocation) {
  if (owner_.empty() || sender != owner_) {
    log::warning("push: refused " + method + " from " + sender + ", which is not the UnifiedPush distributor" +
                 (distributor_.empty() ? std::string() : " (" + distributor_ + ")"));
    g_dbus_method_invocation_return_dbus_error(invocation, kAccessDenied, "only the distributor may call the connector");
    return;
  }
  UnifiedPushConnectorCall call(interface == kConnector2, method, parameters);
  // Version 1's Unregistered confirms the app's own request with no token.
  bool confirmation = interface == kConnector1 && method == "Unregistered" && call.token.empty();
  if (token_.empty() || (call.token != token_ && !confirmation)) {
    log::warning("push: refused " + method + " for a registration that is not the app's");
    g_dbus_method_invocation_return_dbus_error(invocation, kInvalidArgs, "unknown token");
    return;
  }
  if (method == "Message")
    message(call.token, call.body());
  else if (method == "NewEndpoint")
    newEndpoint(call.token, call.endpoint);
  else
    unregistered(call.token);
  call.answer(invocation);
}

void UnifiedPushService::newEndpoint(const std::string&, const std::string& endpoint) {
  if (!isAcceptableEndpoint(endpoint)) {
    log::warning("push: ignored an endpoint from " + distributor_ + " that is not an http(s) URL of at most " +
                 std::to_string(kMaxEndpointBytes) + " bytes");
    return;
  }
  if (endpoint_ == endpoint) return;
  endpoint_ = endpoint;
  log::info("push: " + distributor_ + " gave the app its endpoint (" + std::to_string(endpoint.size()) + " bytes)");
  reportEndpoint();
}

void UnifiedPushService::message(const std::string&, std::string_view body) {
  if (!registered_ || !requested_) {
    log::warning("push: dropped a message that came before the app was registered");
    return;
  }
  auto payload = pushPayloadFromMessage(body);
  if (auto* why = std::get_if<std::string>(&payload)) {
    log::warning("push: dropped a message from " + distributor_ + ": " + *why);
    return;
  }
  log::info("push: a notification arrived through " + distributor_);
  deliverRemoteNotification(std::get<json::Object>(payload), options_.badge, delegate_);
}

void UnifiedPushService::unregistered(const std::string&) {
  bool was = registered_ || inProgress_;
  endpoint_.reset();
  std::error_code ignored;
  std::filesystem::remove(options_.tokenFile, ignored);
  token_.clear();  // the next registration is a new one
  if (!was) return;
  fail("the UnifiedPush distributor " + distributor_ + " ended the app's registration");
}

}  // namespace tavero::platform
