// Push notifications through a UnifiedPush distributor on the session bus
// (GDBus). Registering:
//
//  1. the app takes a bus name of its own (connectorBusName: its bundle id
//     made a valid D-Bus name) and exports the connector object
//     /org/unifiedpush/Connector with the interfaces org.unifiedpush.Connector2
//     and org.unifiedpush.Connector1;
//  2. it picks a distributor: the bus names starting "org.unifiedpush.Distributor."
//     (the one $UNIFIEDPUSH_DISTRIBUTOR names, "org.unifiedpush.Distributor.<that>",
//     else the first in alphabetical order);
//  3. it asks /org/unifiedpush/Distributor for a registration: with
//     org.unifiedpush.Distributor2 where the distributor has it
//     (Register(a{sv} service, token, description) -> a{sv} success, reason),
//     else with org.unifiedpush.Distributor1 (Register(s, s, s) -> (s, s));
//  4. the distributor answers NewEndpoint with the URL the app server posts
//     to; its UTF-8 bytes become the device token.
//
// The registration token is random, kept in `tokenFile`, so a restarted app
// gets its registration (and its endpoint) back. Message calls carry the
// notification: a UTF-8 JSON object of at most 4 KiB (pushPayloadFromMessage),
// delivered like every road's (deliverRemoteNotification: the badge first).
// Unregistered ends the registration: the app is told that it failed, and
// the next registration takes a new token.
//
// Only the distributor's current owner (its unique name) is listened to:
// calls from any other peer, or for another token, are refused and logged.
//
// Thread rules: registerForRemoteNotificationTypes() from any thread; the
// rest, the bus's callbacks and the delegate on the main thread (whose
// GLib main context is the default one).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/AliveToken.h"
#include "base/MainThread.h"
#include "json/JsonValue.h"
#include "platform/ApplicationBadge.h"
#include "platform/PushService.h"

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GDBusMethodInvocation GDBusMethodInvocation;
typedef struct _GCancellable GCancellable;
typedef struct _GVariant GVariant;

namespace tavero::platform {

class UnifiedPushService : public PushService {
 public:
  struct Options {
    std::string bundleIdentifier;
    std::string displayName;          // the description distributors show
    std::filesystem::path tokenFile;  // in the app's data folder
    ApplicationBadge* badge = nullptr;  // takes the badge of notifications; may be null
  };

  // Nothing touches the bus until the app registers. `mainThread` and the
  // badge must outlive the service.
  UnifiedPushService(base::MainThread& mainThread, Options options);
  ~UnifiedPushService() override;

  void setDelegate(PushServiceDelegate* delegate) override;
  void registerForRemoteNotificationTypes(unsigned types) override;

  // The endpoint the distributor gave, while the app is registered.
  const std::optional<std::string>& endpoint() const { return endpoint_; }
  // For `tavero device push status`: {"source": "unifiedpush", "distributor":
  // its bus name or null, "registered": bool, "endpoint": the URL or null}.
  json::Object status() const;

  // The app's bus name for `bundleIdentifier`: each dot-separated element
  // with what a bus name cannot hold turned into "_" (and "_" before a
  // leading digit), empty elements dropped, "app.tavero." before an id of
  // one element; nullopt when no valid name comes out (too long).
  static std::optional<std::string> connectorBusName(const std::string& bundleIdentifier);

  // An endpoint is an http(s) URL of at most this many bytes, without spaces or control characters.
  static constexpr size_t kMaxEndpointBytes = 2048;
  static bool isAcceptableEndpoint(const std::string& endpoint);

 private:
  enum class Version { One, Two };

  void startRegistration();
  bool exportConnector();
  void ownBusName();
  void chooseDistributor();
  void distributorsListed(const std::vector<std::string>& names);
  void distributorAppeared(const std::string& owner);
  void distributorVanished();
  void introspected(const std::string& xml);
  void askRegistration();
  void registrationAnswered(const std::string& result, const std::string& reason);
  void fail(const std::string& message);
  void reportEndpoint();

  // The connector's methods, called by a peer on the bus.
  void connectorCalled(const std::string& sender, const std::string& interface, const std::string& method,
                       GVariant* parameters, GDBusMethodInvocation* invocation);
  void newEndpoint(const std::string& token, const std::string& endpoint);
  void message(const std::string& token, std::string_view body);
  void unregistered(const std::string& token);

  std::string registrationToken();
  friend struct UnifiedPushCallbacks;

  base::MainThread& mainThread_;
  Options options_;
  PushServiceDelegate* delegate_ = nullptr;
  base::AliveToken alive_;

  GDBusConnection* connection_ = nullptr;
  GCancellable* cancellable_;
  unsigned ownedName_ = 0;
  unsigned objectRegistrations_[2] = {0, 0};
  bool nameAcquired_ = false;
  bool nameLost_ = false;  // to another program: asked for again at the next registration
  std::string busName_;
  bool requested_ = false;   // the app asked to register
  bool inProgress_ = false;  // a registration is under way
  bool registered_ = false;  // the distributor accepted it
  std::string distributor_;  // its well-known name
  std::string owner_;        // its unique name, while it is on the bus
  unsigned distributorWatch_ = 0;
  Version version_ = Version::Two;
  std::string token_;
  std::optional<std::string> endpoint_;
};

}  // namespace tavero::platform
