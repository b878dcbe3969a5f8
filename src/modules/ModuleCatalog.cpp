#include "modules/ModuleCatalog.h"

#include <functional>
#include <memory>
#include <string>

#include "modules/TQConnection.h"
#include "modules/TQContact.h"
#include "modules/TQGeolocation.h"
#include "modules/TQMotion.h"
#include "modules/TQOpenURL.h"
#include "modules/TQOrientation.h"
#include "modules/TQSQLite.h"

namespace tavero::modules {

namespace {

template <class Module, class... Args>
void add(bridge::ModuleRegistry& registry, Args... args) {
  registry.add(std::string(Module::className), [args...] { return std::make_unique<Module>(args...); });
}

}  // namespace

void registerModules(bridge::ModuleRegistry& registry, ModuleServices services) {
  add<TQContact>(registry);
  add<TQOpenURL>(registry);
  add<TQSQLite>(registry, std::ref(services.callbacks),
                services.home.applicationSupport() / "sqlite_databases");
  const SensorServices& sensors = services.sensors;
  add<TQGeolocation>(registry, std::ref(services.callbacks), std::ref(sensors.location), std::ref(sensors.timers));
  add<TQMotion>(registry, std::ref(services.callbacks), std::ref(sensors.motion), sensors.systemVersion);
  add<TQOrientation>(registry, std::ref(services.callbacks), std::ref(sensors.motion), sensors.systemVersion);
  add<TQConnection>(registry, std::ref(services.callbacks), std::ref(sensors.network), std::ref(sensors.mainThread));
}

}  // namespace tavero::modules
