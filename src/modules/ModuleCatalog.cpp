#include "modules/ModuleCatalog.h"

#include <memory>
#include <string>

#include "modules/TQContact.h"

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
}

}  // namespace tavero::modules
