// Which road two of the app's services take: push notifications from the
// simulated device or from a UnifiedPush distributor on the session bus,
// and whether notifications also appear on the desktop. The command line
// (--push, --notifications) wins over the device profile ("push":
// {"source": ...}, "notifications": ...), which wins over the defaults:
// simulated push, and desktop notifications except on a private display
// (--headless: tests and scripts).
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "json/JsonValue.h"

namespace tavero::app {

struct ServiceRoads {
  bool unifiedPush = false;           // else the simulated device's push
  bool desktopNotifications = false;  // else none
};

// What the command line chose; nullopt: it did not.
struct ServiceRoadChoices {
  std::optional<bool> unifiedPush;
  std::optional<bool> desktopNotifications;
  bool headless = false;
};

// "simulated" -> false, "unifiedpush" -> true, anything else nullopt.
std::optional<bool> unifiedPushFromName(const std::string& name);
// "none" -> false, "desktop" -> true, anything else nullopt.
std::optional<bool> desktopNotificationsFromName(const std::string& name);

// The roads for a device profile (its top-level object, or null) and the
// command line's choices, or a message naming a profile value that is wrong.
std::variant<ServiceRoads, std::string> serviceRoadsFor(const json::Object* profile, const ServiceRoadChoices& choices);

// "push: simulated, notifications: desktop"-style words for the log.
std::string describeRoads(const ServiceRoads& roads);

}  // namespace tavero::app
