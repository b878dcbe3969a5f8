#include "platform/sim/DeviceProfile.h"

#include <cerrno>
#include <optional>
#include <system_error>
#include <utility>

#include "base/FileRead.h"
#include "json/JsonCodec.h"
#include "log/Log.h"
#include "platform/DeviceInfo.h"
#include "platform/sim/DeviceProfileKeys.h"
#include "platform/sim/StrictJson.h"

namespace tavero::platform {
namespace {

// Copies the string under `key` into `target`. nullopt when done (or the key
// is absent), else the message for a value of another kind.
std::optional<std::string> applyString(const json::Object& profile, std::string_view key,
                                       std::string& target) {
  const json::Value* value = profile.find(key);
  if (value == nullptr) return std::nullopt;
  if (!value->isString()) return "\"" + std::string(key) + "\" must be a string";
  target = value->asString();
  return std::nullopt;
}

std::optional<std::string> applyMacAddress(const json::Object& profile, DeviceInfo& device) {
  const json::Value* value = profile.find("macAddress");
  if (value == nullptr) return std::nullopt;
  if (value->isNull()) {
    device.macAddress.reset();
    return std::nullopt;
  }
  const std::string* text = value->ifString();
  if (text == nullptr) return "\"macAddress\" must be a string like \"00:1e:c2:aa:bb:0f\" or null";
  auto address = parseMacAddress(*text);
  if (!address) {
    return "\"macAddress\" is not a hardware address: \"" + *text +
           "\" (expected six hex pairs like \"00:1e:c2:aa:bb:0f\", not all zero; null means none)";
  }
  device.macAddress = address;
  return std::nullopt;
}

std::string warningFor(const UnknownDeviceProfileKey& key) {
  std::string text = "unknown key \"" + key.path + "\" ignored";
  if (!key.suggestion.empty()) text += " (did you mean \"" + key.suggestion + "\"?)";
  return text;
}

}  // namespace

std::vector<std::string> deviceProfileWarnings(std::string_view jsonText) {
  std::vector<std::string> warnings;
  auto profile = json::JsonCodec::dictionaryWithJSONString(jsonText);
  if (!profile) return warnings;
  for (const auto& key : unknownDeviceProfileKeys(*profile)) warnings.push_back(warningFor(key));
  return warnings;
}

std::variant<DeviceInfo, std::string> applyDeviceProfile(DeviceInfo base, std::string_view jsonText) {
  auto profile = json::JsonCodec::dictionaryWithJSONString(jsonText);
  if (!profile) return std::string("not a readable JSON object");
  for (auto [key, target] : {std::pair<std::string_view, std::string*>{"name", &base.name},
                             {"modelCode", &base.modelCode},
                             {"genericModel", &base.genericModel},
                             {"systemVersion", &base.systemVersion}}) {
    if (auto error = applyString(*profile, key, *target)) return *error;
  }
  if (auto error = applyMacAddress(*profile, base)) return *error;
  return base;
}

std::variant<DeviceInfo, std::string> loadDeviceProfile(DeviceInfo base, const std::filesystem::path& path) {
  std::string where = "device profile " + path.string() + ": ";
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) return where + "is a folder, not a file";
  base::FileRead content = base::readFile(path);
  if (!content.ok()) {
    return where + "cannot be read (" +
           std::error_code(content.error != 0 ? content.error : EIO, std::generic_category()).message() + ")";
  }
  const std::string& text = content.text;
  auto departure = strictJsonDeparture(text);
  if (departure && !json::JsonCodec::dictionaryWithJSONString(text))
    return where + "line " + std::to_string(departure->line) + ": " + departure->what + ", which JSON does not allow";
  auto result = applyDeviceProfile(std::move(base), text);
  if (auto* error = std::get_if<std::string>(&result)) {
    *error = where + *error;
    return result;
  }
  // Read anyway (the shell's reader forgives it), but other tools would not.
  if (departure)
    log::warning(where + "line " + std::to_string(departure->line) + ": " + departure->what +
                 ", which JSON does not allow; read anyway, but other JSON tools will refuse this file");
  for (const auto& warning : deviceProfileWarnings(text)) log::warning(where + warning);
  return result;
}

}  // namespace tavero::platform
