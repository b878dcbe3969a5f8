#include "modules/ModuleCatalog.h"

#include <functional>
#include <memory>
#include <string>

#include "modules/TQCamera.h"
#include "modules/TQConnection.h"
#include "modules/TQContact.h"
#include "modules/TQContacts.h"
#include "modules/TQDevice.h"
#include "modules/TQFileSystem.h"
#include "modules/TQGeolocation.h"
#include "modules/TQMotion.h"
#include "modules/TQNotification.h"
#include "modules/TQOpenURL.h"
#include "modules/TQOrientation.h"
#include "modules/TQPurchase.h"
#include "modules/TQPushNotification.h"
#include "modules/TQSQLite.h"

namespace tavero::modules {

namespace {

template <class Module, class... Args>
void add(bridge::ModuleRegistry& registry, Args... args) {
  registry.add(std::string(Module::className), [args...] { return std::make_unique<Module>(args...); });
}

void registerMediaModules(bridge::ModuleRegistry& registry, const ModuleServices& services) {
  const MediaServices& media = services.media;
  bridge::CallbackDelivery* callbacks = &services.callbacks;
  if (media.mainThread && media.imagePicker && media.imageProcessor) {
    TQCamera::Services camera{*media.mainThread, *media.imagePicker, *media.imageProcessor,
                              services.home.documents(), media.tablet};
    registry.add(std::string(TQCamera::className),
                 [callbacks, camera] { return std::make_unique<TQCamera>(*callbacks, camera); });
  }
  if (media.addressBook && media.imageProcessor) {
    registry.add(std::string(TQContacts::className), [callbacks, book = media.addressBook, processor = media.imageProcessor] {
      return std::make_unique<TQContacts>(*callbacks, *book, *processor);
    });
  }
  if (media.store && media.userDefaults) {
    registry.add(std::string(TQPurchase::className), [callbacks, store = media.store, defaults = media.userDefaults] {
      return std::make_unique<TQPurchase>(*callbacks, *store, *defaults);
    });
  }
}

}  // namespace

void registerModules(bridge::ModuleRegistry& registry, ModuleServices services) {
  add<TQContact>(registry);
  add<TQFileSystem>(registry, std::ref(services.callbacks), services.home.applicationSupport() / "file_systems");
  add<TQDevice>(registry, std::ref(services.callbacks));
  add<TQNotification>(registry, std::ref(services.callbacks), services.mainThread, services.alerts,
                      services.vibrator);
  add<TQOpenURL>(registry, &services.callbacks, services.urlOpener, services.updateApplicationScheme);
  add<TQPushNotification>(registry, std::ref(services.callbacks), services.push);
  add<TQSQLite>(registry, std::ref(services.callbacks),
                services.home.applicationSupport() / "sqlite_databases");
  const SensorServices& sensors = services.sensors;
  add<TQGeolocation>(registry, std::ref(services.callbacks), std::ref(sensors.location), std::ref(sensors.timers));
  add<TQMotion>(registry, std::ref(services.callbacks), std::ref(sensors.motion));
  add<TQOrientation>(registry, std::ref(services.callbacks), std::ref(sensors.motion));
  add<TQConnection>(registry, std::ref(services.callbacks), std::ref(sensors.network), std::ref(sensors.mainThread));
  registerMediaModules(registry, services);
}

}  // namespace tavero::modules
