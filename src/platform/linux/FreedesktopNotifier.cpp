#include "platform/linux/FreedesktopNotifier.h"

#include <gio/gio.h>

#include <memory>
#include <utility>

#include "json/Utf8.h"
#include "log/Log.h"
#include "platform/linux/SessionBusConnection.h"

namespace tavero::platform {
namespace {

constexpr const char* kServer = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr int kCallTimeoutMs = 10000;

bool cancelled(GError* error) { return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED); }

// `text` cut to at most `limit` bytes without splitting a character.
std::string cutAtCharacter(std::string text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  return text;
}

}  // namespace

// A Notify under way: who asked, and what to run on a click.
struct NotifyCall {
  FreedesktopNotifier* notifier;
  std::function<void()> onActivated;
};

struct FreedesktopNotifierCallbacks {
  static void capabilities(GObject* source, GAsyncResult* result, gpointer self) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (cancelled(error)) {  // the notifier is gone
      g_error_free(error);
      return;
    }
    auto* notifier = static_cast<FreedesktopNotifier*>(self);
    notifier->askingCapabilities_ = false;
    if (!reply) {
      notifier->unavailable(error->message);
      notifier->waiting_.clear();
      g_error_free(error);
      return;
    }
    notifier->capabilitiesAnswered(reply);
    g_variant_unref(reply);
  }

  static void notified(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<NotifyCall> call(static_cast<NotifyCall*>(data));
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (cancelled(error)) {
      g_error_free(error);
      return;
    }
    if (!reply) {
      call->notifier->unavailable(error->message);
      g_error_free(error);
      return;
    }
    guint32 id = 0;
    g_variant_get(reply, "(u)", &id);
    g_variant_unref(reply);
    call->notifier->notified(id, std::move(call->onActivated));
  }

  static void signal(GDBusConnection*, const char*, const char*, const char*, const char* name, GVariant* parameters,
                     gpointer self) {
    auto* notifier = static_cast<FreedesktopNotifier*>(self);
    guint32 id = 0;
    if (g_str_equal(name, "ActionInvoked") && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
      const char* action = nullptr;
      g_variant_get(parameters, "(u&s)", &id, &action);
      notifier->actionInvoked(id, action);
    } else if (g_str_equal(name, "NotificationClosed") && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
      guint32 reason = 0;
      g_variant_get(parameters, "(uu)", &id, &reason);
      notifier->activations_.erase(id);
    }
  }
};

FreedesktopNotifier::FreedesktopNotifier(std::string appName)
    : appName_(cutAtCharacter(json::withInvalidUTF8Replaced(appName), kMaxTitleBytes)),
      cancellable_(g_cancellable_new()) {}

FreedesktopNotifier::~FreedesktopNotifier() {
  g_cancellable_cancel(cancellable_);
  if (connection_) {
    g_dbus_connection_signal_unsubscribe(connection_, actionSubscription_);
    g_dbus_connection_signal_unsubscribe(connection_, closedSubscription_);
    g_object_unref(connection_);
  }
  g_object_unref(cancellable_);
}

std::string FreedesktopNotifier::serverText(const std::string& text, size_t limit, bool markup) {
  std::string cut = cutAtCharacter(json::withInvalidUTF8Replaced(text), limit);
  if (!markup) return cut;
  gchar* escaped = g_markup_escape_text(cut.c_str(), static_cast<gssize>(cut.size()));
  std::string result(escaped);
  g_free(escaped);
  return result;
}

bool FreedesktopNotifier::connect() {
  if (connection_) return true;
  if (connectFailed_) return false;
  auto connection = connectToSessionBus();
  if (auto* error = std::get_if<std::string>(&connection)) {
    connectFailed_ = true;
    unavailable(*error);
    return false;
  }
  connection_ = std::get<GDBusConnection*>(connection);
  for (auto [signal, subscription] : {std::pair{"ActionInvoked", &actionSubscription_},
                                      std::pair{"NotificationClosed", &closedSubscription_}}) {
    // Matched on the server's name: the bus passes only signals from its owner.
    *subscription = g_dbus_connection_signal_subscribe(connection_, kServer, kInterface, signal, kPath, nullptr,
                                                       G_DBUS_SIGNAL_FLAGS_NONE, FreedesktopNotifierCallbacks::signal,
                                                       this, nullptr);
  }
  return true;
}

void FreedesktopNotifier::show(DesktopNotification notification, std::function<void()> onActivated) {
  if (!connect()) return;
  if (capabilities_) {
    notify({std::move(notification), std::move(onActivated)});
    return;
  }
  if (waiting_.size() < kMaxRemembered) waiting_.push_back({std::move(notification), std::move(onActivated)});
  if (!askingCapabilities_) askCapabilities();
}

void FreedesktopNotifier::askCapabilities() {
  askingCapabilities_ = true;
  g_dbus_connection_call(connection_, kServer, kPath, kInterface, "GetCapabilities", nullptr, G_VARIANT_TYPE("(as)"),
                         G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs, cancellable_,
                         FreedesktopNotifierCallbacks::capabilities, this);
}

void FreedesktopNotifier::capabilitiesAnswered(GVariant* reply) {
  Capabilities capabilities;
  GVariantIter* names = nullptr;
  const char* name = nullptr;
  g_variant_get(reply, "(as)", &names);
  while (g_variant_iter_loop(names, "&s", &name)) {
    if (g_str_equal(name, "body-markup")) capabilities.markup = true;
    if (g_str_equal(name, "actions")) capabilities.actions = true;
  }
  g_variant_iter_free(names);
  capabilities_ = capabilities;
  for (auto& waiting : std::exchange(waiting_, {})) notify(std::move(waiting));
}

void FreedesktopNotifier::notify(Waiting waiting) {
  GVariantBuilder actions;
  g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
  if (capabilities_->actions) {
    g_variant_builder_add(&actions, "s", "default");
    g_variant_builder_add(&actions, "s", "Open");
  }
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  std::string title = serverText(waiting.notification.title, kMaxTitleBytes, false);
  std::string body = serverText(waiting.notification.body, kMaxBodyBytes, capabilities_->markup);
  GVariant* parameters = g_variant_new("(susssasa{sv}i)", appName_.c_str(), 0u, "", title.c_str(), body.c_str(),
                                       &actions, &hints, -1);
  g_dbus_connection_call(connection_, kServer, kPath, kInterface, "Notify", parameters, G_VARIANT_TYPE("(u)"),
                         G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs, cancellable_,
                         FreedesktopNotifierCallbacks::notified,
                         new NotifyCall{this, std::move(waiting.onActivated)});
}

void FreedesktopNotifier::notified(uint32_t id, std::function<void()> onActivated) {
  log::info("notifications: shown on the desktop (notification " + std::to_string(id) + ")");
  if (!onActivated) return;
  activations_[id] = std::move(onActivated);
  // The server's ids count up: the first ones are the oldest.
  while (activations_.size() > kMaxRemembered) activations_.erase(activations_.begin());
}

void FreedesktopNotifier::actionInvoked(uint32_t id, const std::string& action) {
  if (action != "default") return;
  auto found = activations_.find(id);
  if (found == activations_.end()) return;  // another app's, or one already forgotten
  auto activation = std::move(found->second);
  activations_.erase(found);
  log::info("notifications: the user clicked notification " + std::to_string(id));
  activation();
}

void FreedesktopNotifier::unavailable(const std::string& why) {
  if (unavailableLogged_) return;
  unavailableLogged_ = true;
  log::warning("notifications: no desktop notifications (" + why + "); the app runs without them");
}

}  // namespace tavero::platform
