#include "app/MediaPlatform.h"

#include "log/Log.h"

namespace tavero::app {

std::filesystem::path MediaPlatform::paymentQueueFile(const platform::HomeFolders& home) {
  return home.library() / "Store" / "PaymentQueue.json";
}

std::filesystem::path MediaPlatform::userDefaultsFile(const platform::HomeFolders& home,
                                                      const std::string& bundleIdentifier) {
  return home.preferences() / (platform::homeFolderName(bundleIdentifier) + ".json");
}

std::filesystem::path MediaPlatform::defaultContactsFolder(const platform::HomeFolders& home) {
  return home.home / "Contacts";
}

MediaPlatform::MediaPlatform(const platform::MediaProfile& profile, const platform::HomeFolders& home,
                             const std::string& bundleIdentifier, bool withPicker)
    : tablet_(profile.tablet),
      addressBook_(profile.contactsFolder.value_or(defaultContactsFolder(home)), profile.contactsAccess, processor_),
      store_(profile.store, paymentQueueFile(home)),
      userDefaults_(userDefaultsFile(home, bundleIdentifier)) {
  if (withPicker) picker_ = std::make_unique<platform::GtkImagePicker>(platform::SimulatedCamera(profile.cameraPicture));
  log::debug("media: contacts from " + addressBook_.folder().string() + ", user defaults in " +
             userDefaults_.file().string());
}

modules::MediaServices MediaPlatform::services(platform::MainThread* mainThread) {
  modules::MediaServices services;
  services.mainThread = mainThread;
  services.imagePicker = mainThread ? picker_.get() : nullptr;
  services.imageProcessor = &processor_;
  services.addressBook = &addressBook_;
  services.store = &store_;
  services.userDefaults = &userDefaults_;
  services.tablet = tablet_;
  return services;
}

}  // namespace tavero::app
