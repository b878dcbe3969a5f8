#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/sim/DeviceProfile.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;

DeviceInfo machine() {
  return DeviceInfo{"workstation", "x86_64", "Linux desktop", "12", std::array<uint8_t, 6>{2, 0, 0, 0, 0, 1}};
}

DeviceInfo applied(std::string_view json) {
  auto result = applyDeviceProfile(machine(), json);
  if (auto* error = std::get_if<std::string>(&result)) ADD_FAILURE() << *error;
  return std::holds_alternative<DeviceInfo>(result) ? std::get<DeviceInfo>(result) : DeviceInfo{};
}

std::string errorOf(const std::variant<DeviceInfo, std::string>& result) {
  auto* error = std::get_if<std::string>(&result);
  return error ? *error : "(no error)";
}

TEST(DeviceProfile, ItsKeysReplaceTheMachinesValues) {
  DeviceInfo device = applied(R"({"name": "Test phone", "modelCode": "iPhone4,1", "genericModel": "Phone",
                                  "systemVersion": "5.1.1", "macAddress": "00:1e:c2:aa:bb:0f"})");
  EXPECT_EQ(device.name, "Test phone");
  EXPECT_EQ(device.modelCode, "iPhone4,1");
  EXPECT_EQ(device.genericModel, "Phone");
  EXPECT_EQ(device.systemVersion, "5.1.1");
  EXPECT_EQ(device.macAddress, (std::array<uint8_t, 6>{0x00, 0x1e, 0xc2, 0xaa, 0xbb, 0x0f}));
}

TEST(DeviceProfile, AbsentAndUnknownKeysLeaveTheMachinesValues) {
  DeviceInfo device = applied(R"({"modelCode": "iPad2,1", "accelerometer": {"x": 0.5}, "contacts": [1]})");
  EXPECT_EQ(device.modelCode, "iPad2,1");
  EXPECT_EQ(device.name, "workstation");
  EXPECT_EQ(device.systemVersion, "12");
  EXPECT_EQ(device.macAddress, machine().macAddress);
  EXPECT_EQ(applied(R"({"macAddress": null})").macAddress, std::nullopt);  // a device without one
}

TEST(DeviceProfile, AWrongKindOrAnUnreadableAddressNamesTheKey) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"systemVersion": 12})", "\"systemVersion\""},
      {R"({"name": null})", "\"name\""},
      {R"({"macAddress": 1})", "\"macAddress\""},
      {R"({"macAddress": "00:1e:c2:aa:bb"})", "\"macAddress\""},
      {R"({"macAddress": "00:00:00:00:00:00"})", "\"macAddress\""},
      {R"({"macAddress": "00-1e-c2-aa-bb-0f"})", "00-1e-c2-aa-bb-0f"},
  };
  for (auto [json, named] : cases) {
    std::string error = errorOf(applyDeviceProfile(machine(), json));
    EXPECT_NE(error.find(named), std::string::npos) << json << " gave " << error;
  }
}

TEST(DeviceProfile, TextThatIsNoJsonObjectIsAnError) {
  for (const char* text : {"", "{\"name\": ", "name = phone", "[\"name\"]"}) {
    EXPECT_TRUE(std::holds_alternative<std::string>(applyDeviceProfile(machine(), text))) << text;
  }
}

class DeviceProfileFile : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("tavero-profile-" + std::to_string(::getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  fs::path write(const std::string& name, const std::string& text) {
    std::ofstream(folder_ / name) << text;
    return folder_ / name;
  }

  fs::path folder_;
};

TEST_F(DeviceProfileFile, LoadsTheFile) {
  auto result = loadDeviceProfile(machine(), write("phone.json", R"({"modelCode": "iPhone3,1"})"));
  ASSERT_TRUE(std::holds_alternative<DeviceInfo>(result)) << errorOf(result);
  EXPECT_EQ(std::get<DeviceInfo>(result).modelCode, "iPhone3,1");
}

TEST_F(DeviceProfileFile, EveryErrorNamesTheFile) {
  fs::path missing = folder_ / "missing.json";
  fs::path bad = write("bad.json", "{\"name\": ");
  fs::path wrongKind = write("wrong.json", R"({"modelCode": 7})");
  for (const fs::path& path : {missing, bad, wrongKind, folder_}) {
    std::string error = errorOf(loadDeviceProfile(machine(), path));
    EXPECT_NE(error.find(path.string()), std::string::npos) << error;
  }
  EXPECT_NE(errorOf(loadDeviceProfile(machine(), wrongKind)).find("\"modelCode\""), std::string::npos);
}

}  // namespace
}  // namespace tavero::platform
