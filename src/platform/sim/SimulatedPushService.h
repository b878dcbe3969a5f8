// The push notification service of the simulated device. What registering
// gives is set by the device profile and changed through the control
// interface:
//
//   profile:  "push": {"token": "0abc12ef..."}   registering succeeds with this token
//             "push": {"failure": "message"}     registering fails with this message
//             (neither: a random 32-byte token, new at every start)
//   control:  push token HEX      the token from now on (told at once to an app that registered)
//             push fail MESSAGE   registering fails from now on (told at once to an app that registered)
//             push deliver JSON   a notification with that payload arrives; its "aps"."badge",
//                                 if any, is set on the icon first, as the device does
//
// Notifications reach only an app that registered and got a token.
//
// Thread rules: registerForRemoteNotificationTypes() from any thread; the
// rest, the control commands and the delegate on the main thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/AliveToken.h"
#include "base/MainThread.h"
#include "control/ControlCommandRegistry.h"
#include "platform/ApplicationBadge.h"
#include "platform/PushService.h"

namespace tavero::platform {

struct PushSettings {
  // Exactly one of the two is set.
  std::optional<std::vector<uint8_t>> token;
  std::optional<std::string> failure;
};

// The push settings of a device profile (the object of its "push" key, or
// nullptr without one), or a message naming what is wrong.
std::variant<PushSettings, std::string> pushSettingsFromProfile(const json::Value* push);

// The bytes of a token written in hexadecimal ("0abc12ef", either case;
// spaces and the enclosing "<" ">" of the platform's description allowed),
// or nullopt for anything else or more than 256 bytes.
std::optional<std::vector<uint8_t>> parseHexToken(std::string_view text);

class SimulatedPushService : public PushService {
 public:
  // `badge` (may be null) takes the badge number of delivered
  // notifications. Both must outlive the service.
  SimulatedPushService(base::MainThread& mainThread, ApplicationBadge* badge, PushSettings settings);
  ~SimulatedPushService() override;

  void setDelegate(PushServiceDelegate* delegate) override;
  void registerForRemoteNotificationTypes(unsigned types) override;

  // Adds `push token`, `push fail` and `push deliver`. With `refusal` (the
  // app's push comes by another road) they change nothing and answer it as
  // their error.
  void addControlCommands(control::ControlCommandRegistry& commands, std::optional<std::string> refusal = std::nullopt);

  // The outcomes the control commands produce.
  void setToken(std::vector<uint8_t> token);
  void setFailure(std::string message);
  // Delivers a notification; the message when none can be delivered.
  std::optional<std::string> deliver(const json::Object& payload);

  // The kinds of the last successful registration, or nullopt.
  std::optional<unsigned> registeredTypes() const;

 private:
  void reportRegistration();  // main thread

  base::MainThread& mainThread_;
  ApplicationBadge* badge_;
  PushServiceDelegate* delegate_ = nullptr;  // main thread only
  base::AliveToken alive_;

  mutable std::mutex mutex_;  // guards settings_, requestedTypes_, registered_
  PushSettings settings_;
  std::optional<unsigned> requestedTypes_;  // the app asked to register
  bool registered_ = false;                 // and got a token
};

}  // namespace tavero::platform
