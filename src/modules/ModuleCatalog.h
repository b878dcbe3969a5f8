// Every module the shell offers, registered under its class name.
#pragma once

#include "bridge/ModuleRegistry.h"
#include "bridge/TQCallbackDelivery.h"

namespace tavero::modules {

// What modules are built with. `callbacks` must outlive the registry.
struct ModuleServices {
  bridge::TQCallbackDelivery& callbacks;
};

void registerModules(bridge::ModuleRegistry& registry, ModuleServices services);

}  // namespace tavero::modules
