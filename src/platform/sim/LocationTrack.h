// A recorded track for the simulated location service: fixes with the time
// at which each is reached, read from a GPX file (track and route points
// with <ele> and <time>; GPX 1.0's <course> and <speed> when present) or a
// CSV file whose first line names its columns:
//   time,latitude,longitude,altitude,accuracy,altitudeAccuracy,course,speed
// (latitude and longitude required, the others optional, in any order;
// time in seconds from any origin; an empty cell means "not given"; lines
// starting with '#' are comments).
// Points without a time follow the previous one by a second. Course and
// speed that the file does not give are computed from the neighbouring
// points; accuracies default to 5 m horizontal and 10 m vertical.
//
// Pure functions apart from reading the file; any thread.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/LocationService.h"

namespace tavero::platform {

struct TrackPoint {
  double offset = 0;  // seconds after the track's first point
  LocationFix fix;    // its timestamp is left 0: fixes are stamped when played
};

using LocationTrack = std::vector<TrackPoint>;

inline constexpr size_t kMaxTrackPoints = 1'000'000;
inline constexpr double kMaxTrackSeconds = 366.0 * 24 * 3600;  // a track plays for a year at most
inline constexpr double kDefaultHorizontalAccuracy = 5;
inline constexpr double kDefaultVerticalAccuracy = 10;

// The track in `text` (GPX when it starts with '<', else CSV), or a message
// naming the line or element at fault.
std::variant<LocationTrack, std::string> parseLocationTrack(std::string_view text);

// parseLocationTrack on a file of at most 64 MiB; messages start with the path.
std::variant<LocationTrack, std::string> readLocationTrack(const std::filesystem::path& path);

// The message for a coordinate out of range or not a number; nullopt when
// latitude is in [-90, 90] and longitude in [-180, 180].
std::optional<std::string> checkCoordinate(double latitude, double longitude);

// Great-circle distance in metres and initial bearing in degrees [0, 360).
double distanceMetres(double lat1, double lon1, double lat2, double lon2);
double bearingDegrees(double lat1, double lon1, double lat2, double lon2);

}  // namespace tavero::platform
