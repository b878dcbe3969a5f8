#include "modules/ModuleCatalog.h"

#include <memory>
#include <string>

#include "modules/TQContact.h"
#include "modules/TQOpenURL.h"

namespace tavero::modules {

namespace {

template <class Module, class... Args>
void add(bridge::ModuleRegistry& registry, Args&... args) {
  registry.add(std::string(Module::className),
               [&args...] { return std::make_unique<Module>(args...); });
}

}  // namespace

void registerModules(bridge::ModuleRegistry& registry, ModuleServices) {
  add<TQContact>(registry);
  add<TQOpenURL>(registry);
}

}  // namespace tavero::modules
