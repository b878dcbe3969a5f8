// Every module the shell offers, registered under its class name.
#pragma once

#include <functional>
#include <string>

#include "base/MainLoopTimers.h"
#include "base/MainThread.h"
#include "bridge/CallbackDelivery.h"
#include "bridge/ModuleRegistry.h"
#include "platform/AddressBook.h"
#include "platform/AlertPresenter.h"
#include "platform/HomeFolders.h"
#include "platform/ImagePicker.h"
#include "platform/ImageProcessor.h"
#include "platform/LocationService.h"
#include "platform/MotionService.h"
#include "platform/NetworkReachability.h"
#include "platform/PushService.h"
#include "platform/Store.h"
#include "platform/URLOpener.h"
#include "platform/UserDefaults.h"
#include "platform/Vibrator.h"

namespace tavero::modules {

// The platform services of the sensor modules (position, motion, network).
struct SensorServices {
  base::MainThread& mainThread;
  base::MainLoopTimers& timers;
  platform::LocationService& location;
  platform::MotionService& motion;
  platform::NetworkReachability& network;
};

// The platform services of the camera, contacts and purchase modules. A
// module whose services are missing is not offered (its commands get 404).
struct MediaServices {
  base::MainThread* mainThread = nullptr;  // camera: with the picker
  platform::ImagePicker* imagePicker = nullptr;
  const platform::ImageProcessor* imageProcessor = nullptr;  // camera, contacts
  platform::AddressBook* addressBook = nullptr;
  platform::Store* store = nullptr;  // purchases: with the defaults
  platform::UserDefaults* userDefaults = nullptr;
  bool tablet = false;  // pickers in a popover
};

// What modules are built with. Every reference must outlive the registry.
struct ModuleServices {
  bridge::CallbackDelivery& callbacks;
  platform::HomeFolders home;  // where modules keep the app's files
  SensorServices sensors;
  MediaServices media = {};
  // The device's other services. They may be null in a shell without them
  // (no window): the modules that need one then log and do nothing.
  base::MainThread* mainThread = nullptr;  // for work that must run there (alerts)
  platform::URLOpener* urlOpener = nullptr;
  platform::PushService* push = nullptr;
  platform::AlertPresenter* alerts = nullptr;
  platform::Vibrator* vibrator = nullptr;
  // Defines the device information again in every page (an incoming URL
  // changed device.scheme). Main thread.
  std::function<void()> updateApplicationScheme = {};
};

void registerModules(bridge::ModuleRegistry& registry, ModuleServices services);

}  // namespace tavero::modules
