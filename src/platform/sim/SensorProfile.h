// The sensor part of a device profile (--device FILE): the simulated
// position, motion sensors and network status the shell starts with.
//   "location": {"enabled": true, "latitude": 48.8584, "longitude": 2.2945,
//                "altitude": 35, "accuracy": 5, "altitudeAccuracy": 10,
//                "course": 90, "speed": 1.4, "track": "walk.gpx"}
//   "motion":   {"gyroscope": true, "acceleration": [0, 0, -1],
//                "rotationRate": [0, 0, 0], "attitude": [0, 0, 0],
//                "trace": "shake.csv"}
//   "network":  "real" | "none" | "wifi" | "cell"
// Every key is optional (unknown ones are warned about with the other
// profile keys, see DeviceProfileKeys.h). A position needs latitude and longitude; "track"
// and "trace" are files (see LocationTrack.h and MotionTrace.h), relative
// paths taken from the profile's folder. Attitude is in radians.
//
// Pure functions apart from reading files; any thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/LocationService.h"
#include "platform/MotionService.h"
#include "platform/sim/ForcedNetworkReachability.h"
#include "platform/sim/LocationTrack.h"
#include "platform/sim/MotionTrace.h"

namespace tavero::platform {

class SimulatedLocationService;
class SimulatedMotionService;

// A network status to force, or (nullopt) the real one.
struct NetworkChoice {
  std::optional<ForcedNetworkStatus> forced;
};

struct SensorProfile {
  std::optional<bool> locationEnabled;
  std::optional<LocationFix> position;
  std::optional<LocationTrack> track;
  std::optional<bool> gyroscope;
  std::optional<MotionVector> acceleration;
  std::optional<MotionVector> rotationRate;
  std::optional<Attitude> attitude;
  std::optional<MotionTrace> trace;
  std::optional<NetworkChoice> network;
};

// The sensor settings in the profile `jsonText`, whose files are looked up
// from `profileFolder`; or a message naming the offending key.
std::variant<SensorProfile, std::string> readSensorProfile(std::string_view jsonText,
                                                           const std::filesystem::path& profileFolder);
// readSensorProfile on the file at `path`; messages start with the path.
std::variant<SensorProfile, std::string> loadSensorProfile(const std::filesystem::path& path);

// "none", "wifi", "cell" or "real"; nullopt for other text.
std::optional<NetworkChoice> parseNetworkStatus(std::string_view text);

void applySensorProfile(const SensorProfile& profile, SimulatedLocationService& location,
                        SimulatedMotionService& motion, ForcedNetworkReachability& network);

}  // namespace tavero::platform
