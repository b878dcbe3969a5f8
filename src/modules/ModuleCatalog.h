// Every module the shell offers, registered under its class name.
#pragma once

#include "bridge/ModuleRegistry.h"
#include "bridge/TQCallbackDelivery.h"
#include "platform/HomeFolders.h"

namespace tavero::modules {

// What modules are built with. `callbacks` must outlive the registry.
struct ModuleServices {
  bridge::TQCallbackDelivery& callbacks;
  platform::HomeFolders home;  // where modules keep the app's files
};

void registerModules(bridge::ModuleRegistry& registry, ModuleServices services);

}  // namespace tavero::modules
