// Every control command of a running app, registered in one place: the
// shell calls this with its live services, and `tavero device help`
// without a running app calls it with inert stand-ins
// (DeviceCommandCatalogue), so the two lists cannot differ.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/ApplicationLifecycle.h"
#include "app/MediaPlatform.h"
#include "app/PageCommands.h"
#include "control/ControlCommandRegistry.h"
#include "platform/linux/GtkAlertPresenter.h"
#include "platform/sim/ForcedNetworkReachability.h"
#include "platform/sim/RecordedBadge.h"
#include "platform/sim/RecordingURLOpener.h"
#include "platform/sim/RecordingVibrator.h"
#include "platform/sim/SimulatedLocationService.h"
#include "platform/sim/SimulatedMotionService.h"
#include "platform/sim/SimulatedPushService.h"

namespace tavero::app {

struct DeviceServices {
  // Null only to list the commands.
  ApplicationLifecycle* lifecycle;
  MediaPlatform* media;
  // Null when the app uses the machine's own location (no geo commands).
  platform::SimulatedLocationService* location;
  platform::SimulatedMotionService& motion;
  platform::ForcedNetworkReachability& network;
  platform::RecordedBadge& badge;
  platform::RecordingURLOpener& openedURLs;
  platform::RecordingVibrator& vibrations;
  platform::GtkAlertPresenter& alerts;
  platform::SimulatedPushService& push;
  // When push comes by another road: why the simulated push commands refuse.
  std::optional<std::string> pushRefusal;
  // What `push status` answers (null only to list the commands).
  std::function<json::Object()> pushStatus;
  PageCommands& pages;  // page eval, page wait, screenshot
};

// The services must outlive the registry's use of the commands.
void addDeviceCommands(control::ControlCommandRegistry& commands, const DeviceServices& services);

}  // namespace tavero::app
