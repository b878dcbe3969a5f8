#include "app/ServiceRoads.h"

namespace tavero::app {

std::optional<bool> unifiedPushFromName(const std::string& name) {
  if (name == "simulated") return false;
  if (name == "unifiedpush") return true;
  return std::nullopt;
}

std::optional<bool> desktopNotificationsFromName(const std::string& name) {
  if (name == "none") return false;
  if (name == "desktop") return true;
  return std::nullopt;
}

std::variant<ServiceRoads, std::string> serviceRoadsFor(const json::Object* profile, const ServiceRoadChoices& choices) {
  ServiceRoads roads{.unifiedPush = false, .desktopNotifications = !choices.headless};
  if (profile) {
    const json::Value* push = profile->find("push");
    const json::Value* source = push && push->isObject() ? push->asObject().find("source") : nullptr;
    if (source) {
      auto chosen = source->isString() ? unifiedPushFromName(source->asString()) : std::nullopt;
      if (!chosen) return std::string("\"push.source\" is \"simulated\" or \"unifiedpush\"");
      roads.unifiedPush = *chosen;
    }
    if (const json::Value* notifications = profile->find("notifications")) {
      auto chosen = notifications->isString() ? desktopNotificationsFromName(notifications->asString()) : std::nullopt;
      if (!chosen) return std::string("\"notifications\" is \"none\" or \"desktop\"");
      roads.desktopNotifications = *chosen;
    }
  }
  if (choices.unifiedPush) roads.unifiedPush = *choices.unifiedPush;
  if (choices.desktopNotifications) roads.desktopNotifications = *choices.desktopNotifications;
  return roads;
}

std::string describeRoads(const ServiceRoads& roads) {
  return std::string("push from ") +
         (roads.unifiedPush ? "a UnifiedPush distributor on the session bus" : "the simulated device") +
         (roads.desktopNotifications ? ", notifications also on the desktop" : ", no desktop notifications");
}

}  // namespace tavero::app
