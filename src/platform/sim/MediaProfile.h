// The device profile's settings for the camera, contacts and the store, and
// the device's idiom:
//   "idiom": "phone" (default) or "tablet": tablets show pickers in a popover
//   "camera": {"picture": "shot.jpg"}: what the simulated camera shoots
//       (default: a generated test card with the time in it);
//       "source": "simulated" (default) | "system": the machine's camera
//       through GStreamer; "device": the system camera to use, a device
//       file below /dev or pipewiresrc | v4l2src | videotestsrc (default:
//       the first camera found, PipeWire's before V4L2's)
//   "contacts": {"source": "folder" | "system", "folder": "vcards",
//       "access": "granted" | "denied"} (default: the folder <home>/Contacts,
//       granted; "system": the desktop's address books, Evolution Data Server)
//   "store": {"canMakePayments": true, "policy": "approve" | "fail" |
//       "cancel" | "manual", "failureMessage": "...",
//       "productRequestFailure": "...",
//       "products": [{"identifier": "com.example.coins", "title": "...",
//                     "description": "...", "price": "0.99",
//                     "priceLocale": "en_US"}]}
// Relative paths are taken from the profile's folder.
//
// Pure; any thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "json/JsonValue.h"
#include "platform/AddressBook.h"
#include "platform/CameraDevice.h"
#include "platform/sim/SimulatedStore.h"

namespace tavero::platform {

// Where the people of the address book come from.
enum class ContactsSource { folder, system };

struct MediaProfile {
  bool tablet = false;
  std::optional<std::filesystem::path> cameraPicture;
  ContactsSource contactsSource = ContactsSource::folder;
  bool systemCamera = false;                 // "camera.source": "system"
  std::optional<CameraDevice> cameraDevice;  // "camera.device"
  std::optional<std::filesystem::path> contactsFolder;  // none: <home>/Contacts
  AddressBookAccess contactsAccess = AddressBookAccess::granted;
  StoreSettings store;
};

// The settings of `profile`, or a message naming the offending key (keys
// that no part of the shell reads are reported by DeviceProfileKeys).
std::variant<MediaProfile, std::string> readMediaProfile(const json::Object& profile,
                                                         const std::filesystem::path& profileFolder);

// ContactsSource by name ("folder", "system"), or none.
std::optional<ContactsSource> contactsSourceNamed(std::string_view name);

// One warning per path-valued key ("camera.picture", "contacts.folder",
// "camera.device") whose path does not exist or is of the wrong kind, naming
// the key.
std::vector<std::string> mediaProfileWarnings(const MediaProfile& media);

// readMediaProfile on a profile file; its warnings are logged, with the
// file's path.
std::variant<MediaProfile, std::string> loadMediaProfile(const std::filesystem::path& profileFile);

}  // namespace tavero::platform
