#include "app/DeviceCommandSet.h"

#include "app/SensorCommands.h"

namespace tavero::app {

void addDeviceCommands(control::ControlCommandRegistry& commands, const DeviceServices& services) {
  ApplicationLifecycle::addControlCommands(commands, services.lifecycle);
  addSensorCommands(commands, services.location, services.motion, services.network);
  MediaPlatform::addControlCommands(commands, services.media);
  services.badge.addControlCommands(commands);
  services.openedURLs.addControlCommands(commands);
  services.vibrations.addControlCommands(commands);
  services.alerts.addControlCommands(commands);
  services.push.addControlCommands(commands, services.pushRefusal);
  services.pages.addControlCommands(commands);
}

}  // namespace tavero::app
