#include "platform/sim/SensorProfile.h"

#include <algorithm>

#include "json/JsonCodec.h"
#include "platform/sim/PlainText.h"
#include "platform/sim/SimulatedLocationService.h"
#include "platform/sim/SimulatedMotionService.h"

namespace tavero::platform {
namespace {

constexpr uintmax_t kMaxProfileBytes = 1u << 20;

using Error = std::optional<std::string>;

Error readNumber(const json::Object& section, std::string_view sectionName, std::string_view key,
                 std::optional<double>& target) {
  const json::Value* value = section.find(key);
  if (!value) return std::nullopt;
  if (!value->isNumber()) return "\"" + std::string(sectionName) + "." + std::string(key) + "\" must be a number";
  target = value->toDouble();
  return std::nullopt;
}

Error readFlag(const json::Object& section, std::string_view sectionName, std::string_view key,
               std::optional<bool>& target) {
  const json::Value* value = section.find(key);
  if (!value) return std::nullopt;
  if (!value->isBool()) return "\"" + std::string(sectionName) + "." + std::string(key) + "\" must be true or false";
  target = value->asBool();
  return std::nullopt;
}

Error readTriple(const json::Object& section, std::string_view key, std::optional<MotionVector>& target) {
  const json::Value* value = section.find(key);
  if (!value) return std::nullopt;
  const json::Array* items = value->ifArray();
  if (!items || items->size() != 3 || !(*items)[0].isNumber() || !(*items)[1].isNumber() || !(*items)[2].isNumber()) {
    return "\"motion." + std::string(key) + "\" must be an array of three numbers";
  }
  target = MotionVector{(*items)[0].toDouble(), (*items)[1].toDouble(), (*items)[2].toDouble()};
  return std::nullopt;
}

Error readFileKey(const json::Object& section, std::string_view sectionName, std::string_view key,
                  std::optional<std::filesystem::path>& target, const std::filesystem::path& folder) {
  const json::Value* value = section.find(key);
  if (!value) return std::nullopt;
  if (!value->isString() || value->asString().empty()) {
    return "\"" + std::string(sectionName) + "." + std::string(key) + "\" must be a file name";
  }
  std::filesystem::path path = value->asString();
  target = path.is_absolute() ? path : folder / path;
  return std::nullopt;
}

Error readLocation(const json::Object& location, const std::filesystem::path& folder, SensorProfile& profile) {
  if (auto error = readFlag(location, "location", "enabled", profile.locationEnabled)) return error;
  std::optional<double> latitude, longitude, altitude, accuracy, altitudeAccuracy, course, speed;
  for (auto [key, target] : {std::pair<std::string_view, std::optional<double>*>{"latitude", &latitude},
                             {"longitude", &longitude}, {"altitude", &altitude}, {"accuracy", &accuracy},
                             {"altitudeAccuracy", &altitudeAccuracy}, {"course", &course}, {"speed", &speed}}) {
    if (auto error = readNumber(location, "location", key, *target)) return error;
  }
  if (latitude || longitude || altitude || accuracy || altitudeAccuracy || course || speed) {
    if (!latitude || !longitude) return std::string("\"location\" needs both latitude and longitude for a position");
    if (auto error = checkCoordinate(*latitude, *longitude)) return "\"location\": " + *error;
    // Without an altitude the altitude is unknown (vertical accuracy -1).
    profile.position = LocationFix{*latitude, *longitude, altitude.value_or(0),
                                   accuracy.value_or(kDefaultHorizontalAccuracy),
                                   altitude ? altitudeAccuracy.value_or(kDefaultVerticalAccuracy) : -1,
                                   course.value_or(-1), speed.value_or(-1), 0};
  }
  std::optional<std::filesystem::path> trackFile;
  if (auto error = readFileKey(location, "location", "track", trackFile, folder)) return error;
  if (trackFile) {
    auto track = readLocationTrack(*trackFile);
    if (auto* message = std::get_if<std::string>(&track)) return "\"location.track\": " + *message;
    profile.track = std::get<LocationTrack>(std::move(track));
  }
  return std::nullopt;
}

Error readMotion(const json::Object& motion, const std::filesystem::path& folder, SensorProfile& profile) {
  if (auto error = readFlag(motion, "motion", "gyroscope", profile.gyroscope)) return error;
  if (auto error = readTriple(motion, "acceleration", profile.acceleration)) return error;
  if (auto error = readTriple(motion, "rotationRate", profile.rotationRate)) return error;
  std::optional<MotionVector> attitude;
  if (auto error = readTriple(motion, "attitude", attitude)) return error;
  if (attitude) profile.attitude = Attitude{attitude->x, attitude->y, attitude->z};
  std::optional<std::filesystem::path> traceFile;
  if (auto error = readFileKey(motion, "motion", "trace", traceFile, folder)) return error;
  if (traceFile) {
    auto trace = readMotionTrace(*traceFile);
    if (auto* message = std::get_if<std::string>(&trace)) return "\"motion.trace\": " + *message;
    profile.trace = std::get<MotionTrace>(std::move(trace));
  }
  return std::nullopt;
}

}  // namespace

std::optional<NetworkChoice> parseNetworkStatus(std::string_view text) {
  if (text == "none") return NetworkChoice{ForcedNetworkStatus::None};
  if (text == "wifi") return NetworkChoice{ForcedNetworkStatus::Wifi};
  if (text == "cell") return NetworkChoice{ForcedNetworkStatus::Cell};
  if (text == "real") return NetworkChoice{std::nullopt};
  return std::nullopt;
}

std::variant<SensorProfile, std::string> readSensorProfile(std::string_view jsonText,
                                                           const std::filesystem::path& profileFolder) {
  auto profile = json::JsonCodec::dictionaryWithJSONString(jsonText);
  if (!profile) return std::string("not a readable JSON object");
  SensorProfile sensors;
  if (const json::Value* location = profile->find("location")) {
    if (!location->isObject()) return std::string("\"location\" must be an object");
    if (auto error = readLocation(location->asObject(), profileFolder, sensors)) return *error;
  }
  if (const json::Value* motion = profile->find("motion")) {
    if (!motion->isObject()) return std::string("\"motion\" must be an object");
    if (auto error = readMotion(motion->asObject(), profileFolder, sensors)) return *error;
  }
  if (const json::Value* network = profile->find("network")) {
    auto status = network->isString() ? parseNetworkStatus(network->asString()) : std::nullopt;
    if (!status) return std::string("\"network\" must be \"real\", \"none\", \"wifi\" or \"cell\"");
    sensors.network = status;
  }
  return sensors;
}

std::variant<SensorProfile, std::string> loadSensorProfile(const std::filesystem::path& path) {
  auto text = readTextFile(path, kMaxProfileBytes);
  if (!text.text) return "device profile " + *text.error;
  auto profile = readSensorProfile(*text.text, path.parent_path());
  if (auto* message = std::get_if<std::string>(&profile)) *message = "device profile " + path.string() + ": " + *message;
  return profile;
}

void applySensorProfile(const SensorProfile& profile, SimulatedLocationService& location,
                        SimulatedMotionService& motion, ForcedNetworkReachability& network) {
  if (profile.locationEnabled) location.setEnabled(*profile.locationEnabled);
  if (profile.position) location.setFix(*profile.position);
  if (profile.track) location.playTrack(*profile.track);
  if (profile.gyroscope) motion.setGyroAvailable(*profile.gyroscope);
  if (profile.acceleration) motion.setAcceleration(*profile.acceleration);
  if (profile.rotationRate) motion.setRotationRate(*profile.rotationRate);
  if (profile.attitude) motion.setAttitude(*profile.attitude);
  if (profile.trace) motion.playTrace(*profile.trace);
  if (profile.network) network.force(profile.network->forced);
}

}  // namespace tavero::platform
