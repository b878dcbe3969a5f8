// Desktop notifications through the desktop's notification server
// (org.freedesktop.Notifications on the session bus, GDBus): Notify with the
// app's name, the title as the summary and the text as the body, escaped
// when the server reads bodies as markup ("body-markup" among its
// capabilities), with a "default" action where the server has actions.
// ActionInvoked "default" (the user clicked the notification) reports the
// activation; NotificationClosed forgets it.
//
// The bus is reached at the first notification. Without a session bus or
// a notification server the log says so once and nothing is shown.
//
// Thread rules: main thread only (the thread whose GLib main context runs
// the default loop); the bus's replies and signals arrive there.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/DesktopNotifier.h"

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GCancellable GCancellable;
typedef struct _GVariant GVariant;

namespace tavero::platform {

class FreedesktopNotifier : public DesktopNotifier {
 public:
  // `appName`: the name the desktop shows the notifications under.
  explicit FreedesktopNotifier(std::string appName);
  ~FreedesktopNotifier() override;

  void show(DesktopNotification notification, std::function<void()> onActivated) override;

  // `text` as the server is given it: invalid UTF-8 replaced, cut (at a
  // character) to `limit` bytes, and escaped when the server reads markup.
  static std::string serverText(const std::string& text, size_t limit, bool markup);

  static constexpr size_t kMaxTitleBytes = 256;
  static constexpr size_t kMaxBodyBytes = 2048;
  // Notifications whose activation is remembered; older ones are forgotten.
  static constexpr size_t kMaxRemembered = 100;

 private:
  struct Waiting {
    DesktopNotification notification;
    std::function<void()> onActivated;
  };
  struct Capabilities {
    bool markup = false;
    bool actions = false;
  };

  bool connect();
  void askCapabilities();
  void capabilitiesAnswered(GVariant* reply);
  void notify(Waiting waiting);
  void notified(uint32_t id, std::function<void()> onActivated);
  void actionInvoked(uint32_t id, const std::string& action);
  void unavailable(const std::string& why);

  // GDBus's callbacks, which call the members above.
  friend struct FreedesktopNotifierCallbacks;

  std::string appName_;
  GDBusConnection* connection_ = nullptr;
  GCancellable* cancellable_;
  unsigned actionSubscription_ = 0;
  unsigned closedSubscription_ = 0;
  bool connectFailed_ = false;
  bool unavailableLogged_ = false;
  bool askingCapabilities_ = false;
  std::optional<Capabilities> capabilities_;
  std::vector<Waiting> waiting_;  // until the capabilities are known
  std::map<uint32_t, std::function<void()>> activations_;  // by the server's id
};

}  // namespace tavero::platform
