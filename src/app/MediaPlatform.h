// The platform services behind the camera, contacts and purchase modules
// for one app: the GdkPixbuf image processor, the GTK image picker with the
// simulated camera or the system one (GStreamer; profile "camera.source")
// (or, without a screen, a picker that shoots the simulated camera at once),
// the address book (the vCard folder, or the desktop's through Evolution Data
// Server), the simulated store with its
// payment queue in the home, and the user defaults file. Made from the
// device profile's settings.
//
// Thread rules: create and destroy on the main thread; the services say
// their own rules. REQUIRES: the control commands are gone before this is.
#pragma once

#include <memory>
#include <string>

#include "control/ControlCommandRegistry.h"
#include "modules/ModuleCatalog.h"
#include "platform/HomeFolders.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/linux/GdkPixbufImageProcessor.h"
#include "platform/linux/GtkImagePicker.h"
#include "platform/linux/LazyAddressBook.h"
#include "platform/sim/MediaProfile.h"
#include "platform/sim/ShootingImagePicker.h"
#include "platform/sim/SimulatedStore.h"

namespace tavero::app {

class MediaPlatform {
 public:
  // `withPicker`: the GTK picker on screen (needs GTK and a main loop);
  // without, the camera shoots the simulated camera's picture at once.
  MediaPlatform(const platform::MediaProfile& profile, const platform::HomeFolders& home,
                const std::string& bundleIdentifier, bool withPicker);

  // The services for the module catalog; the camera only with a picker and
  // a main thread.
  modules::MediaServices services(base::MainThread* mainThread);

  // `picker pick|cancel|status`, `store approve|fail|cancel|list|policy|
  // products` and `contacts access|list`.
  void addControlCommands(control::ControlCommandRegistry& commands);
  // The same for `media`; null only to list the commands (their handlers
  // must then never run).
  static void addControlCommands(control::ControlCommandRegistry& commands, MediaPlatform* media);

  platform::ImagePicker* picker() { return picker_.get(); }
  // The book pages read: the folder's, or the desktop's with
  // ContactsSource::system (loaded with the address book module when first read).
  platform::LazyAddressBook& addressBook() { return addressBook_; }
  platform::SimulatedStore& store() { return store_; }
  platform::FileUserDefaults& userDefaults() { return userDefaults_; }

  // Where the pieces keep their files in a home.
  static std::filesystem::path paymentQueueFile(const platform::HomeFolders& home);
  static std::filesystem::path userDefaultsFile(const platform::HomeFolders& home, const std::string& bundleIdentifier);
  static std::filesystem::path defaultContactsFolder(const platform::HomeFolders& home);

 private:
  bool tablet_;
  platform::GdkPixbufImageProcessor processor_;
  std::unique_ptr<platform::ImagePicker> picker_;
  platform::LazyAddressBook addressBook_;
  platform::SimulatedStore store_;
  platform::FileUserDefaults userDefaults_;
};

}  // namespace tavero::app
