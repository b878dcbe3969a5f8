#include "app/SensorCommands.h"

#include <filesystem>

#include "platform/sim/LocationTrack.h"
#include "platform/sim/MotionTrace.h"
#include "platform/sim/PlainText.h"
#include "platform/sim/SensorProfile.h"

namespace tavero::app {
namespace {

using control::ControlAnswer;
using control::ControlArguments;
using control::ControlUsageError;

double number(ControlArguments& args, std::string_view what) {
  std::string word = args.next(what);
  auto value = platform::parseNumber(word);
  if (!value) throw ControlUsageError(std::string(what) + " must be a number, not \"" + word + "\"");
  return *value;
}

std::optional<double> optionalNumber(ControlArguments& args, std::string_view what) {
  if (args.empty()) return std::nullopt;
  return number(args, what);
}

platform::MotionVector triple(ControlArguments& args, const char* x, const char* y, const char* z) {
  platform::MotionVector v;
  v.x = number(args, x);
  v.y = number(args, y);
  v.z = number(args, z);
  args.end();
  return v;
}

// The file a command names. The shell may run in another folder than the
// command, so only absolute paths are unambiguous.
std::filesystem::path fileArgument(ControlArguments& args) {
  std::filesystem::path path = args.next("FILE");
  args.end();
  if (!path.is_absolute()) {
    throw ControlUsageError("FILE must be an absolute path (the app runs in its own folder), e.g. \"$PWD/" +
                            path.string() + "\"");
  }
  return path;
}

std::string describe(const platform::LocationFix& fix) {
  return std::to_string(fix.latitude) + ", " + std::to_string(fix.longitude);
}

json::Value vectorValue(const platform::MotionVector& v) { return json::Array{v.x, v.y, v.z}; }

void addLocationCommands(control::ControlCommandRegistry& commands, platform::SimulatedLocationService& location) {
  commands.add({.name = "geo fix",
                .usage = "LAT LON [ALT] [ACCURACY]",
                .help = "puts the device at LAT, LON (degrees), ALT metres up (unknown when left out), within ACCURACY metres",
                .thread = control::ControlThread::Any,
                .handler = [&location](ControlArguments& args) {
                  platform::LocationFix fix;
                  fix.latitude = number(args, "LAT");
                  fix.longitude = number(args, "LON");
                  auto altitude = optionalNumber(args, "ALT");
                  fix.altitude = altitude.value_or(0);
                  fix.horizontalAccuracy = optionalNumber(args, "ACCURACY").value_or(platform::kDefaultHorizontalAccuracy);
                  // No ALT: the altitude is unknown, and pages see null.
                  fix.verticalAccuracy = altitude ? platform::kDefaultVerticalAccuracy : -1;
                  args.end();
                  if (auto error = platform::checkCoordinate(fix.latitude, fix.longitude)) {
                    return ControlAnswer::error(*error);
                  }
                  if (fix.horizontalAccuracy < 0) return ControlAnswer::error("ACCURACY must not be negative");
                  location.setFix(fix);
                  return ControlAnswer::value("the device is at " + describe(fix));
                }});
  commands.add({.name = "geo play",
                .usage = "FILE",
                .help = "plays a recorded track (GPX, or CSV with a header line) in real time from now",
                .thread = control::ControlThread::Any,
                .handler = [&location](ControlArguments& args) {
                  auto track = platform::readLocationTrack(fileArgument(args));
                  if (auto* error = std::get_if<std::string>(&track)) return ControlAnswer::error(*error);
                  auto& points = std::get<platform::LocationTrack>(track);
                  std::string answer = "playing " + std::to_string(points.size()) + " points over " +
                                       std::to_string(static_cast<long long>(points.back().offset)) + " s";
                  location.playTrack(std::move(points));
                  return ControlAnswer::value(answer);
                }});
  for (bool enable : {true, false}) {
    commands.add({.name = enable ? "geo enable" : "geo disable",
                  .usage = "",
                  .help = enable ? "switches location services on"
                                 : "switches location services off: requests and watches fail to start",
                  .thread = control::ControlThread::Any,
                  .handler = [&location, enable](ControlArguments& args) {
                    args.end();
                    location.setEnabled(enable);
                    return ControlAnswer::value(enable ? "location services are on" : "location services are off");
                  }});
  }
}

void addMotionCommands(control::ControlCommandRegistry& commands, platform::SimulatedMotionService& motion) {
  commands.add({.name = "sensor accel",
                .usage = "X Y Z",
                .help = "sets the acceleration, in units of gravity (lying flat face up is 0 0 -1)",
                .thread = control::ControlThread::Any,
                .handler = [&motion](ControlArguments& args) {
                  motion.setAcceleration(triple(args, "X", "Y", "Z"));
                  return ControlAnswer::value("acceleration set");
                }});
  commands.add({.name = "sensor gyro",
                .usage = "X Y Z",
                .help = "sets the rotation rate, in radians per second",
                .thread = control::ControlThread::Any,
                .handler = [&motion](ControlArguments& args) {
                  motion.setRotationRate(triple(args, "X", "Y", "Z"));
                  return ControlAnswer::value("rotation rate set");
                }});
  commands.add({.name = "sensor attitude",
                .usage = "ROLL PITCH YAW",
                .help = "sets the attitude, in radians (pages see degrees)",
                .thread = control::ControlThread::Any,
                .handler = [&motion](ControlArguments& args) {
                  auto v = triple(args, "ROLL", "PITCH", "YAW");
                  motion.setAttitude({v.x, v.y, v.z});
                  return ControlAnswer::value("attitude set");
                }});
  commands.add({.name = "sensor play",
                .usage = "FILE",
                .help = "plays a recorded motion trace (CSV with a header line) in real time from now",
                .thread = control::ControlThread::Any,
                .handler = [&motion](ControlArguments& args) {
                  auto trace = platform::readMotionTrace(fileArgument(args));
                  if (auto* error = std::get_if<std::string>(&trace)) return ControlAnswer::error(*error);
                  auto& rows = std::get<platform::MotionTrace>(trace);
                  std::string answer = "playing " + std::to_string(rows.size()) + " rows over " +
                                       std::to_string(static_cast<long long>(rows.back().offset)) + " s";
                  motion.playTrace(std::move(rows));
                  return ControlAnswer::value(answer);
                }});
  commands.add({.name = "sensor gyroscope",
                .usage = "on|off",
                .help = "gives the device a gyroscope or takes it away (for watches started afterwards)",
                .thread = control::ControlThread::Any,
                .handler = [&motion](ControlArguments& args) {
                  std::string state = args.next("on|off");
                  args.end();
                  if (state != "on" && state != "off") throw ControlUsageError("say on or off, not \"" + state + "\"");
                  motion.setGyroAvailable(state == "on");
                  return ControlAnswer::value(state == "on" ? "the device has a gyroscope" : "the device has no gyroscope");
                }});
}

void addNetworkCommand(control::ControlCommandRegistry& commands, platform::ForcedNetworkReachability& network) {
  commands.add({.name = "network",
                .usage = "none|wifi|cell|real",
                .help = "forces the network status pages hear (real: the machine's own routes again)",
                .thread = control::ControlThread::Any,
                .handler = [&network](ControlArguments& args) {
                  std::string word = args.next("none|wifi|cell|real");
                  args.end();
                  auto choice = platform::parseNetworkStatus(word);
                  if (!choice) throw ControlUsageError("say none, wifi, cell or real, not \"" + word + "\"");
                  network.force(choice->forced);
                  return ControlAnswer::value(word == "real" ? "the network status is the machine's own"
                                                             : "the network status is forced to " + word);
                }});
}

}  // namespace

void addSensorCommands(control::ControlCommandRegistry& commands, platform::SimulatedLocationService* location,
                       platform::SimulatedMotionService& motion, platform::ForcedNetworkReachability& network) {
  if (location) addLocationCommands(commands, *location);
  addMotionCommands(commands, motion);
  addNetworkCommand(commands, network);
  commands.add({.name = "sensors",
                .usage = "",
                .help = "what the simulated position, motion sensors and network report now",
                .thread = control::ControlThread::Any,
                .handler = [location, &motion, &network](ControlArguments& args) {
                  args.end();
                  json::Object answer;
                  if (location) {
                    auto place = location->status();
                    json::Object geo;
                    geo.append("enabled", place.enabled);
                    geo.append("updating", place.updating);
                    if (place.position) {
                      geo.append("latitude", place.position->latitude);
                      geo.append("longitude", place.position->longitude);
                    }
                    geo.append("trackPointsLeft", static_cast<long long>(place.trackPointsLeft));
                    answer.append("location", std::move(geo));
                  } else {
                    answer.append("location", "the machine's own (GeoClue)");
                  }
                  auto values = motion.values();
                  json::Object sensors;
                  sensors.append("gyroscope", values.gyroAvailable);
                  sensors.append("acceleration", vectorValue(values.acceleration));
                  sensors.append("rotationRate", vectorValue(values.rotationRate));
                  sensors.append("attitude", vectorValue({values.attitude.roll, values.attitude.pitch, values.attitude.yaw}));
                  sensors.append("streams", static_cast<long long>(values.streams));
                  sensors.append("traceRowsLeft", static_cast<long long>(values.traceRowsLeft));
                  answer.append("motion", std::move(sensors));
                  auto forced = network.forced();
                  answer.append("network", !forced                                      ? "real"
                                           : *forced == platform::ForcedNetworkStatus::None ? "none"
                                           : *forced == platform::ForcedNetworkStatus::Wifi ? "wifi"
                                                                                             : "cell");
                  return ControlAnswer::value(std::move(answer));
                }});
}

}  // namespace tavero::app
