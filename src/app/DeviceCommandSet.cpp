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
  commands.add({.name = "push status",
                .help = "where push comes from, whether the app is registered, and its endpoint or token",
                .thread = control::ControlThread::Main,
                .handler = [status = services.pushStatus](control::ControlArguments& args) {
                  args.end();
                  return control::ControlAnswer::value(json::Value(status()));
                }});
  services.pages.addControlCommands(commands);
}

}  // namespace tavero::app
