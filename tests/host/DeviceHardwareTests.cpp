#include <gtest/gtest.h>

#include <string>

#include "host/DeviceIdentity.h"
#include "host/QLDeviceHardware.h"

namespace tavero::host {
namespace {

using namespace std::string_literals;

std::string nameFor(std::string code) {
  platform::DeviceInfo device;
  device.modelCode = std::move(code);
  device.genericModel = "Linux laptop";
  return QLDeviceHardware(std::move(device)).platformString();
}

TEST(QLDeviceHardware, KnownCodesGetTheirModelNames) {
  EXPECT_EQ(nameFor("iPhone3,3"), "iPhone 4");
  EXPECT_EQ(nameFor("iPhone4,1"), "iPhone 4S");
  EXPECT_EQ(nameFor("iPod5,2"), "iPod Touch 5G");
  EXPECT_EQ(nameFor("iPad1,1"), "iPad");
  EXPECT_EQ(nameFor("iPad2,3"), "iPad 2");
  EXPECT_EQ(nameFor("x86_64"), "Linux laptop");
  EXPECT_EQ(nameFor("i386"), "Linux laptop");
}

TEST(QLDeviceHardware, UnlistedCodesComeBackUnchanged) {
  for (std::string code : {"iPhone5,1", "iPad2,4", "iPad3,4", "aarch64", "i686", "iphone4,1", ""}) {
    EXPECT_EQ(nameFor(code), code);
  }
}

TEST(StringFromMD5, HashesTheTextUpToTheFirstNulAsLowerCaseHex) {
  EXPECT_EQ(stringFromMD5("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(stringFromMD5("abc\0def"s), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(stringFromMD5(""), std::nullopt);
  EXPECT_EQ(stringFromMD5("\0abc"s), std::nullopt);
}

TEST(DeviceIdentity, TheIdentifierIsTheDigestOfTheUpperCaseAddressText) {
  platform::DeviceInfo device;
  EXPECT_EQ(uniqueGlobalDeviceIdentifier(device), std::nullopt);
  device.macAddress = {{0x00, 0x1e, 0xc2, 0xaa, 0xbb, 0x0f}};
  EXPECT_EQ(macAddressText(device), "00:1E:C2:AA:BB:0F");
  // printf '%s' 00:1E:C2:AA:BB:0F | md5sum
  EXPECT_EQ(uniqueGlobalDeviceIdentifier(device), "130157f9be5ef6e10728c04e6ab86bb5");
}

}  // namespace
}  // namespace tavero::host
