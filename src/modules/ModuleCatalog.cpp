#include "modules/ModuleCatalog.h"

#include <functional>
#include <memory>
#include <string>

#include "modules/TQContact.h"
#include "modules/TQOpenURL.h"
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
}

}  // namespace tavero::modules
