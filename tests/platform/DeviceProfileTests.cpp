#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "json/JsonCodec.h"
#include "log/Log.h"
#include "platform/sim/DeviceProfile.h"
#include "platform/sim/DeviceProfileKeys.h"

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

TEST(DeviceProfileKeys, AMisspeltKeyIsNamedWithTheKeyItProbablyMeant) {
  auto warnings = deviceProfileWarnings(R"({"nmae": "Kim", "modelCode": "x", "MacAddress": null,
                                           "colour": "red"})");
  ASSERT_EQ(warnings.size(), 3u);
  EXPECT_NE(warnings[0].find("\"nmae\""), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[0].find("did you mean \"name\""), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[1].find("did you mean \"macAddress\""), std::string::npos) << warnings[1];
  EXPECT_NE(warnings[2].find("\"colour\""), std::string::npos) << warnings[2];
  EXPECT_EQ(warnings[2].find("did you mean"), std::string::npos) << warnings[2];
  EXPECT_TRUE(deviceProfileWarnings(R"({"name": "Kim", "systemVersion": "5.1"})").empty());
  EXPECT_TRUE(deviceProfileWarnings("not json").empty());  // the reader reports that one
}

TEST(DeviceProfileKeys, SectionsAreCheckedInsideTheirObjectsAndArraysOfObjects) {
  const std::vector<DeviceProfileKey> known = {
      {"push", {{"token"}, {"failure"}}},
      {"store", {{"products", {{"id"}, {"price"}}}}},
      {"accounts", {{"*", {{"balance"}}}}},
      {"free"},
  };
  auto profile = json::JsonCodec::dictionaryWithJSONString(R"({
      "push": {"tokn": "ab", "failure": null},
      "store": {"products": [{"id": "gold", "prize": 1}, 7, {"id": "silver"}]},
      "accounts": {"kim": {"balance": 1, "owner": "x"}},
      "free": {"anything": {"goes": 1}},
      "push2": 1})");
  ASSERT_TRUE(profile);
  auto unknown = unknownDeviceProfileKeys(*profile, known);
  ASSERT_EQ(unknown.size(), 4u);
  EXPECT_EQ(unknown[0].path, "push.tokn");
  EXPECT_EQ(unknown[0].suggestion, "push.token");
  EXPECT_EQ(unknown[1].path, "store.products[0].prize");
  EXPECT_EQ(unknown[1].suggestion, "store.products[0].price");
  EXPECT_EQ(unknown[2].path, "accounts.kim.owner");
  EXPECT_EQ(unknown[3].path, "push2");
  EXPECT_EQ(unknown[3].suggestion, "push");
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

TEST_F(DeviceProfileFile, UnknownKeysAreLoggedWithTheFileAndTheProfileStillApplies) {
  std::vector<std::string> logged;
  log::setSink([&](log::Level level, std::string_view line) {
    if (level == log::Level::Warning) logged.emplace_back(line);
  });
  fs::path path = write("typo.json", R"({"nmae": "Kim", "modelCode": "iPhone3,1"})");
  auto result = loadDeviceProfile(machine(), path);
  log::setSink({});
  ASSERT_TRUE(std::holds_alternative<DeviceInfo>(result)) << errorOf(result);
  EXPECT_EQ(std::get<DeviceInfo>(result).modelCode, "iPhone3,1");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find(path.string()), std::string::npos) << logged[0];
  EXPECT_NE(logged[0].find("\"nmae\""), std::string::npos) << logged[0];
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

// What the shell's reader forgives (a trailing comma, a comment before the
// object) is read with a warning naming the file and the line; what it
// cannot read (a comment inside the object) is refused naming the line.
TEST_F(DeviceProfileFile, TextThatIsNotStrictJsonIsNamedByItsLine) {
  std::vector<std::string> logged;
  log::setSink([&](log::Level level, std::string_view line) {
    if (level == log::Level::Warning) logged.emplace_back(line);
  });
  fs::path trailing = write("trailing.json", "{\n  \"name\": \"Kim\",\n  \"modelCode\": \"iPhone3,1\",\n}\n");
  auto read = loadDeviceProfile(machine(), trailing);
  fs::path leading = write("leading.json", "// Kim's phone\n{\"name\": \"Kim\"}");
  auto readToo = loadDeviceProfile(machine(), leading);
  fs::path strict = write("strict.json", "{\"name\": \"Kim\"}");
  auto clean = loadDeviceProfile(machine(), strict);
  log::setSink({});
  ASSERT_TRUE(std::holds_alternative<DeviceInfo>(read)) << errorOf(read);
  EXPECT_EQ(std::get<DeviceInfo>(read).modelCode, "iPhone3,1");
  ASSERT_TRUE(std::holds_alternative<DeviceInfo>(readToo)) << errorOf(readToo);
  ASSERT_TRUE(std::holds_alternative<DeviceInfo>(clean)) << errorOf(clean);
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0], "device profile " + trailing.string() + ": line 3: a trailing comma, which JSON does not "
                       "allow; read anyway, but other JSON tools will refuse this file");
  EXPECT_NE(logged[1].find(leading.string() + ": line 1: a comment"), std::string::npos) << logged[1];

  fs::path inside = write("inside.json", "{\n  \"name\": \"Kim\",\n  /* the model */ \"modelCode\": \"x\"}");
  EXPECT_EQ(errorOf(loadDeviceProfile(machine(), inside)),
            "device profile " + inside.string() + ": line 3: a comment, which JSON does not allow");
  fs::path broken = write("broken.json", "{\n\"name\" \"Kim\"}");
  EXPECT_NE(errorOf(loadDeviceProfile(machine(), broken)).find(": line 2: syntax error"), std::string::npos)
      << errorOf(loadDeviceProfile(machine(), broken));
}

}  // namespace
}  // namespace tavero::platform
