// Every module the shell offers, registered under its class name.
#pragma once

#include <string>

#include "bridge/ModuleRegistry.h"
#include "bridge/TQCallbackDelivery.h"
#include "platform/HomeFolders.h"
#include "platform/LocationService.h"
#include "platform/MainLoopTimers.h"
#include "platform/MainThread.h"
#include "platform/MotionService.h"
#include "platform/NetworkReachability.h"

namespace tavero::modules {

// The platform services of the sensor modules (position, motion, network).
struct SensorServices {
  platform::MainThread& mainThread;
  platform::MainLoopTimers& timers;
  platform::LocationService& location;
  platform::MotionService& motion;
  platform::NetworkReachability& network;
  std::string systemVersion;  // the device's OS version text
};

// What modules are built with. Every reference must outlive the registry.
struct ModuleServices {
  bridge::TQCallbackDelivery& callbacks;
  platform::HomeFolders home;  // where modules keep the app's files
  SensorServices sensors;
};

void registerModules(bridge::ModuleRegistry& registry, ModuleServices services);

}  // namespace tavero::modules
