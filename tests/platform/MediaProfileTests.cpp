#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "json/JsonCodec.h"
#include "log/Log.h"
#include "platform/sim/DeviceProfileKeys.h"
#include "platform/sim/MediaProfile.h"

namespace tavero::platform {
namespace {

std::variant<MediaProfile, std::string> read(std::string_view text) {
  auto profile = json::JsonCodec::dictionaryWithJSONString(text);
  EXPECT_TRUE(profile) << text;
  return readMediaProfile(profile.value_or(json::Object{}), "/profiles");
}

std::string errorOf(std::string_view text) {
  auto result = read(text);
  auto* error = std::get_if<std::string>(&result);
  return error ? *error : "(no error)";
}

constexpr std::string_view kFullProfile = R"({
  "idiom": "tablet",
  "camera": {"picture": "shots/cat.jpg", "source": "system", "device": "/dev/video2"},
  "contacts": {"source": "system", "folder": "/srv/vcards", "access": "denied"},
  "store": {"canMakePayments": false, "policy": "approve", "failureMessage": "Declined",
            "productRequestFailure": "Offline",
            "products": [{"identifier": "coins", "title": "Coins", "description": "Gold", "price": "0.99",
                          "priceLocale": "de_DE"},
                         {"identifier": "gems", "price": 12}]}})";

TEST(MediaProfile, ReadsEverySectionAndTakesRelativePathsFromTheProfilesFolder) {
  auto result = read(kFullProfile);
  ASSERT_TRUE(std::holds_alternative<MediaProfile>(result)) << std::get<std::string>(result);
  const auto& media = std::get<MediaProfile>(result);
  EXPECT_TRUE(media.tablet);
  EXPECT_EQ(media.cameraPicture, std::filesystem::path("/profiles/shots/cat.jpg"));
  EXPECT_TRUE(media.systemCamera);
  EXPECT_EQ(media.cameraDevice, (CameraDevice{CameraDevice::Kind::deviceFile, "/dev/video2"}));
  EXPECT_EQ(media.contactsFolder, std::filesystem::path("/srv/vcards"));
  EXPECT_EQ(media.contactsAccess, AddressBookAccess::denied);
  EXPECT_EQ(media.contactsSource, ContactsSource::system);
  EXPECT_FALSE(media.store.canMakePayments);
  EXPECT_EQ(media.store.policy, StorePolicy::approve);
  EXPECT_EQ(media.store.failureMessage, "Declined");
  EXPECT_EQ(media.store.productRequestFailure, "Offline");
  ASSERT_EQ(media.store.catalog.size(), 2u);
  EXPECT_EQ(media.store.catalog[0].localizedDescription, "Gold");
  EXPECT_EQ(media.store.catalog[1].price, "12");
  EXPECT_EQ(media.store.catalog[1].priceLocale, "en_US");

  // Every key of it is one the shell knows.
  EXPECT_TRUE(unknownDeviceProfileKeys(*json::JsonCodec::dictionaryWithJSONString(kFullProfile)).empty());
  auto defaults = read("{}");
  EXPECT_FALSE(std::get<MediaProfile>(defaults).tablet);
  EXPECT_EQ(std::get<MediaProfile>(defaults).contactsSource, ContactsSource::folder);
  EXPECT_FALSE(std::get<MediaProfile>(defaults).systemCamera);  // the simulated camera unless asked
  EXPECT_FALSE(std::get<MediaProfile>(defaults).cameraDevice);
  EXPECT_EQ(std::get<MediaProfile>(defaults).store.policy, StorePolicy::manual);
}

TEST(MediaProfile, NamesTheOffendingKey) {
  EXPECT_EQ(errorOf(R"({"idiom": "watch"})"), "\"idiom\" must be \"phone\" or \"tablet\", not \"watch\"");
  EXPECT_EQ(errorOf(R"({"camera": "cat.jpg"})"), "\"camera\" must be an object");
  EXPECT_EQ(errorOf(R"({"camera": {"picture": ""}})"), "\"camera.picture\" must not be empty");
  EXPECT_EQ(errorOf(R"({"camera": {"source": "webcam"}})"),
            "\"camera.source\" must be \"simulated\" or \"system\", not \"webcam\"");
  EXPECT_EQ(errorOf(R"({"camera": {"source": 1}})"), "\"camera.source\" must be a string");
  // A device is a device file or an allowed element, never a pipeline.
  EXPECT_EQ(errorOf(R"({"camera": {"device": "videotestsrc ! filesink location=/tmp/x"}})"),
            "\"camera.device\" must be a device file below /dev (\"/dev/video0\") or one of pipewiresrc, v4l2src, "
            "videotestsrc, not \"videotestsrc ! filesink location=/tmp/x\"");
  EXPECT_EQ(errorOf(R"({"contacts": {"access": "maybe"}})"),
            "\"contacts.access\" must be \"granted\" or \"denied\", not \"maybe\"");
  EXPECT_EQ(errorOf(R"({"contacts": {"source": "cloud"}})"),
            "\"contacts.source\" must be \"folder\" or \"system\", not \"cloud\"");
  EXPECT_EQ(errorOf(R"({"store": {"policy": "steal"}})"),
            "\"store.policy\" must be \"approve\", \"fail\", \"cancel\" or \"manual\", not \"steal\"");
  EXPECT_EQ(errorOf(R"({"store": {"products": [{"title": "x"}]}})"), "\"store.products\"[0] needs an \"identifier\" text");
  EXPECT_EQ(errorOf(R"({"store": {"products": [{"identifier": "x", "price": "1e3"}]}})"),
            "\"store.products\"[0].price must be a decimal number like \"0.99\"");
  EXPECT_EQ(errorOf(R"({"store": {"canMakePayments": "yes"}})"), "\"store.canMakePayments\" must be true or false");
}

// Paths are checked at launch: a missing picture or contacts folder, or one
// of the wrong kind, is named with its key; a profile that gives none or
// good ones gets no warning.
TEST(MediaProfile, PathsThatDoNotExistOrAreOfTheWrongKindAreWarnedAbout) {
  namespace fs = std::filesystem;
  fs::path folder = fs::temp_directory_path() / ("tavero-media-paths-" + std::to_string(::getpid()));
  fs::create_directories(folder / "vcards");
  { std::ofstream(folder / "cat.png") << "png"; }
  EXPECT_TRUE(mediaProfileWarnings(MediaProfile{}).empty());

  MediaProfile good;
  good.cameraPicture = folder / "cat.png";
  good.contactsFolder = folder / "vcards";
  EXPECT_TRUE(mediaProfileWarnings(good).empty());

  MediaProfile missing;
  missing.cameraPicture = folder / "dog.png";
  missing.contactsFolder = folder / "cat.png";  // a file, not a folder
  EXPECT_EQ(mediaProfileWarnings(missing),
            (std::vector<std::string>{"\"camera.picture\" names \"" + (folder / "dog.png").string() +
                                          "\", which does not exist",
                                      "\"contacts.folder\" names \"" + (folder / "cat.png").string() +
                                          "\", which is not a folder"}));
  MediaProfile noCamera;
  noCamera.cameraDevice = CameraDevice{CameraDevice::Kind::deviceFile, "/dev/video-tavero-missing"};
  EXPECT_EQ(mediaProfileWarnings(noCamera),
            (std::vector<std::string>{"\"camera.device\" names \"/dev/video-tavero-missing\", which does not exist"}));
  noCamera.cameraDevice = CameraDevice{CameraDevice::Kind::element, "videotestsrc"};
  EXPECT_TRUE(mediaProfileWarnings(noCamera).empty());

  MediaProfile aFolder;
  aFolder.cameraPicture = folder / "vcards";
  ASSERT_EQ(mediaProfileWarnings(aFolder).size(), 1u);
  EXPECT_NE(mediaProfileWarnings(aFolder)[0].find("a folder, not a picture file"), std::string::npos);

  // Loading the profile file logs them with the file's name.
  { std::ofstream(folder / "profile.json") << R"({"camera": {"picture": "dog.png"}})"; }
  std::vector<std::string> logged;
  log::setSink([&](log::Level, std::string_view line) { logged.emplace_back(line); });
  auto loaded = loadMediaProfile(folder / "profile.json");
  log::setSink({});
  EXPECT_TRUE(std::holds_alternative<MediaProfile>(loaded));
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].find("device profile " + (folder / "profile.json").string() + ": \"camera.picture\""), 0u)
      << logged[0];
  fs::remove_all(folder);
}

}  // namespace
}  // namespace tavero::platform
