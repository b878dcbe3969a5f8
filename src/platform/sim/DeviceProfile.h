// A device profile: a JSON file (given with --device FILE) in which a web
// developer describes the device to simulate. Its keys replace the matching
// parts of the machine's own DeviceInfo:
//   "name", "modelCode", "genericModel", "systemVersion": strings;
//   "macAddress": "00:1e:c2:aa:bb:0f", or null for a device without one.
// Every key is optional. Other parts of the shell read their own sections of
// the same profile; every key any of them reads is listed in
// DeviceProfileKeys.cpp, and any other key is reported as a warning (a
// misspelt key would otherwise do nothing, silently).
//
// The functions are pure apart from reading the file and logging, and may
// be called from any thread.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/DeviceInfo.h"

namespace tavero::platform {

// `base` with the profile in `jsonText` applied, or a message that names the
// offending key (or says that the text is not a JSON object).
std::variant<DeviceInfo, std::string> applyDeviceProfile(DeviceInfo base, std::string_view jsonText);

// One warning per key of the profile in `jsonText` that no part of the shell
// reads, naming the key and the known key it probably stands for.
std::vector<std::string> deviceProfileWarnings(std::string_view jsonText);

// applyDeviceProfile on the content of the file at `path`, and its warnings
// logged. Every message starts with the file's path; a file that cannot be
// read gives one too.
std::variant<DeviceInfo, std::string> loadDeviceProfile(DeviceInfo base, const std::filesystem::path& path);

}  // namespace tavero::platform
