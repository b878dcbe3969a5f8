// The keys a device profile may hold, and the check that finds the others.
//
// Every part of the shell that reads the profile adds its keys to the one
// list in DeviceProfileKeys.cpp: a top-level key, with the section's own
// keys when its value is an object (or an array of objects). Misspelt keys
// are then reported instead of silently doing nothing.
//
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "json/JsonValue.h"

namespace tavero::platform {

struct DeviceProfileKey {
  std::string_view name;  // "*" stands for any key (a map keyed by ids)
  // The keys allowed inside the value when it is an object, or inside each
  // object of it when it is an array. Empty: the value is not looked into.
  std::vector<DeviceProfileKey> keys = {};
};

// Every key a profile may have at its top level.
const std::vector<DeviceProfileKey>& knownDeviceProfileKeys();

// One key of a profile that no part of the shell reads.
struct UnknownDeviceProfileKey {
  std::string path;        // "nmae", or "push.tokn" inside a section
  std::string suggestion;  // the known key it is probably a misspelling of, or empty
};

// The keys of `profile` that `known` does not list, in the profile's order.
std::vector<UnknownDeviceProfileKey> unknownDeviceProfileKeys(
    const json::Object& profile, const std::vector<DeviceProfileKey>& known = knownDeviceProfileKeys());

}  // namespace tavero::platform
