// A device profile: a JSON file (given with --device FILE) in which a web
// developer describes the device to simulate. Its keys replace the matching
// parts of the machine's own DeviceInfo:
//   "name", "modelCode", "genericModel", "systemVersion": strings;
//   "macAddress": "00:1e:c2:aa:bb:0f", or null for a device without one.
// Every key is optional, and keys this reader does not know are ignored, so
// one profile can carry settings that other parts of the shell read.
//
// Both functions are pure apart from reading the file, and may be called
// from any thread.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <variant>

#include "platform/DeviceInfo.h"

namespace tavero::platform {

// `base` with the profile in `jsonText` applied, or a message that names the
// offending key (or says that the text is not a JSON object).
std::variant<DeviceInfo, std::string> applyDeviceProfile(DeviceInfo base, std::string_view jsonText);

// applyDeviceProfile on the content of the file at `path`. Every message
// starts with the file's path; a file that cannot be read gives one too.
std::variant<DeviceInfo, std::string> loadDeviceProfile(DeviceInfo base, const std::filesystem::path& path);

}  // namespace tavero::platform
