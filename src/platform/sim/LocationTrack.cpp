#include "platform/sim/LocationTrack.h"

#include <glib.h>

#include <cmath>
#include <map>
#include <optional>

#include "base/AsciiText.h"
#include "platform/sim/PlainText.h"

namespace tavero::platform {
namespace {

constexpr uintmax_t kMaxTrackFileBytes = 64u << 20;
constexpr double kEarthRadius = 6371008.8;  // mean radius, metres
constexpr double kPi = 3.14159265358979323846;

double radians(double degrees) { return degrees * kPi / 180.0; }

// A point as the file gives it: what is absent stays nullopt until the
// track is completed.
struct RawPoint {
  std::optional<double> time;
  double latitude = 0;
  double longitude = 0;
  std::optional<double> altitude, accuracy, altitudeAccuracy, course, speed;
};

// Offsets from the first point, times in order, course and speed filled in.
std::variant<LocationTrack, std::string> completeTrack(const std::vector<RawPoint>& raw) {
  if (raw.empty()) return std::string("the track has no points");
  LocationTrack track;
  track.reserve(raw.size());
  double start = raw.front().time.value_or(0);
  double previous = 0;
  for (size_t i = 0; i < raw.size(); ++i) {
    double offset = raw[i].time ? *raw[i].time - start : (i == 0 ? 0 : previous + 1);
    if (offset < previous) {
      return "point " + std::to_string(i + 1) + " has a time before the point ahead of it";
    }
    if (offset > kMaxTrackSeconds) {
      return "point " + std::to_string(i + 1) + " comes more than a year after the first";
    }
    previous = offset;
    LocationFix fix;
    fix.latitude = raw[i].latitude;
    fix.longitude = raw[i].longitude;
    fix.horizontalAccuracy = raw[i].accuracy.value_or(kDefaultHorizontalAccuracy);
    // A point without an altitude has none: no accuracy makes one up.
    fix.altitude = raw[i].altitude.value_or(0);
    fix.verticalAccuracy = raw[i].altitude ? raw[i].altitudeAccuracy.value_or(kDefaultVerticalAccuracy) : -1;
    track.push_back({offset, fix});
  }
  for (size_t i = 0; i < track.size(); ++i) {
    // Motion into a point is measured from the previous one; the first point
    // takes the motion towards the second.
    size_t from = i == 0 ? 0 : i - 1;
    size_t to = i == 0 ? std::min<size_t>(1, track.size() - 1) : i;
    const LocationFix& a = track[from].fix;
    const LocationFix& b = track[to].fix;
    double seconds = track[to].offset - track[from].offset;
    bool moved = from != to && (a.latitude != b.latitude || a.longitude != b.longitude);
    double distance = distanceMetres(a.latitude, a.longitude, b.latitude, b.longitude);
    track[i].fix.course = raw[i].course.value_or(moved ? bearingDegrees(a.latitude, a.longitude, b.latitude, b.longitude) : -1);
    track[i].fix.speed = raw[i].speed.value_or(from != to && seconds > 0 ? distance / seconds : -1);
  }
  return track;
}

// ---- CSV ----

enum class Column { Time, Latitude, Longitude, Altitude, Accuracy, AltitudeAccuracy, Course, Speed };

const std::map<std::string_view, Column> kColumns = {
    {"time", Column::Time},         {"latitude", Column::Latitude},
    {"longitude", Column::Longitude}, {"altitude", Column::Altitude},
    {"accuracy", Column::Accuracy}, {"altitudeAccuracy", Column::AltitudeAccuracy},
    {"course", Column::Course},     {"speed", Column::Speed},
};

std::variant<LocationTrack, std::string> parseCsvTrack(std::string_view text) {
  std::vector<Column> columns;
  std::vector<RawPoint> raw;
  size_t lineNumber = 0;
  for (std::string_view line : splitFields(text, '\n')) {
    ++lineNumber;
    line = base::trimAsciiWhiteSpace(line);
    if (line.empty() || line.front() == '#') continue;
    std::string where = "line " + std::to_string(lineNumber) + ": ";
    auto cells = splitFields(line, ',');
    if (columns.empty()) {
      bool haveLatitude = false, haveLongitude = false;
      for (auto cell : cells) {
        auto it = kColumns.find(base::trimAsciiWhiteSpace(cell));
        if (it == kColumns.end()) {
          return where + "unknown column \"" + std::string(base::trimAsciiWhiteSpace(cell)) +
                 "\" (known: time, latitude, longitude, altitude, accuracy, altitudeAccuracy, course, speed)";
        }
        for (Column seen : columns) {
          if (seen == it->second) return where + "column \"" + std::string(it->first) + "\" appears twice";
        }
        columns.push_back(it->second);
        haveLatitude |= it->second == Column::Latitude;
        haveLongitude |= it->second == Column::Longitude;
      }
      if (!haveLatitude || !haveLongitude) return where + "the header must name latitude and longitude";
      continue;
    }
    if (cells.size() != columns.size()) {
      return where + "has " + std::to_string(cells.size()) + " cells, the header names " +
             std::to_string(columns.size());
    }
    if (raw.size() == kMaxTrackPoints) return where + "the track has more than a million points";
    RawPoint point;
    for (size_t i = 0; i < cells.size(); ++i) {
      std::string_view cell = base::trimAsciiWhiteSpace(cells[i]);
      bool required = columns[i] == Column::Latitude || columns[i] == Column::Longitude;
      if (cell.empty() && !required) continue;
      auto value = parseNumber(cell);
      if (!value) return where + "\"" + std::string(cell) + "\" is not a number";
      switch (columns[i]) {
        case Column::Time: point.time = value; break;
        case Column::Latitude: point.latitude = *value; break;
        case Column::Longitude: point.longitude = *value; break;
        case Column::Altitude: point.altitude = value; break;
        case Column::Accuracy: point.accuracy = value; break;
        case Column::AltitudeAccuracy: point.altitudeAccuracy = value; break;
        case Column::Course: point.course = value; break;
        case Column::Speed: point.speed = value; break;
      }
    }
    if (auto error = checkCoordinate(point.latitude, point.longitude)) return where + *error;
    if (!raw.empty() && point.time.has_value() != raw.front().time.has_value()) {
      return where + "every row or none must give a time";
    }
    raw.push_back(point);
  }
  if (columns.empty()) return std::string("no header line naming the columns");
  return completeTrack(raw);
}

// ---- GPX, read with GLib's markup parser ----

struct GpxReader {
  std::vector<RawPoint> points;
  std::optional<RawPoint> current;  // inside <trkpt> or <rtept>
  std::string element;              // the child element whose text is being read
  std::string text;
  std::string error;
};

void fail(GError** error, GpxReader& reader, std::string message) {
  reader.error = message;
  g_set_error_literal(error, G_MARKUP_ERROR, G_MARKUP_ERROR_INVALID_CONTENT, message.c_str());
}

void gpxStart(GMarkupParseContext*, const gchar* name, const gchar** attributeNames,
              const gchar** attributeValues, gpointer data, GError** error) {
  auto& reader = *static_cast<GpxReader*>(data);
  std::string_view element = name;
  if (element == "trkpt" || element == "rtept") {
    if (reader.points.size() == kMaxTrackPoints) return fail(error, reader, "the track has more than a million points");
    std::optional<double> latitude, longitude;
    for (int i = 0; attributeNames[i]; ++i) {
      std::string_view attribute = attributeNames[i];
      if (attribute == "lat") latitude = parseNumber(attributeValues[i]);
      if (attribute == "lon") longitude = parseNumber(attributeValues[i]);
    }
    std::string where = "point " + std::to_string(reader.points.size() + 1) + ": ";
    if (!latitude || !longitude) return fail(error, reader, where + "needs numeric lat and lon attributes");
    if (auto problem = checkCoordinate(*latitude, *longitude)) return fail(error, reader, where + *problem);
    reader.current = RawPoint();
    reader.current->latitude = *latitude;
    reader.current->longitude = *longitude;
  } else if (reader.current) {
    reader.element = element;
    reader.text.clear();
  }
}

void gpxText(GMarkupParseContext*, const gchar* text, gsize length, gpointer data, GError**) {
  auto& reader = *static_cast<GpxReader*>(data);
  if (reader.current && !reader.element.empty() && reader.text.size() < 256) reader.text.append(text, length);
}

void gpxEnd(GMarkupParseContext*, const gchar* name, gpointer data, GError** error) {
  auto& reader = *static_cast<GpxReader*>(data);
  std::string_view element = name;
  if (element == "trkpt" || element == "rtept") {
    if (!reader.points.empty() && reader.current->time.has_value() != reader.points.front().time.has_value()) {
      return fail(error, reader, "point " + std::to_string(reader.points.size() + 1) +
                                     ": every point or none must have a <time>");
    }
    reader.points.push_back(*reader.current);
    reader.current.reset();
    return;
  }
  if (!reader.current || element != reader.element) return;
  reader.element.clear();
  std::string where = "point " + std::to_string(reader.points.size() + 1) + ": <" + std::string(element) + "> ";
  if (element == "time") {
    GDateTime* time = g_date_time_new_from_iso8601(std::string(base::trimAsciiWhiteSpace(reader.text)).c_str(), nullptr);
    if (!time) return fail(error, reader, where + "is not an ISO 8601 time: \"" + reader.text + "\"");
    reader.current->time = static_cast<double>(g_date_time_to_unix(time)) + g_date_time_get_microsecond(time) / 1e6;
    g_date_time_unref(time);
    return;
  }
  std::optional<double>* target = element == "course" ? &reader.current->course
                                  : element == "speed" ? &reader.current->speed
                                                       : nullptr;
  if (element != "ele" && !target) return;
  auto value = parseNumber(reader.text);
  if (!value) return fail(error, reader, where + "is not a number: \"" + reader.text + "\"");
  if (target) {
    *target = value;
  } else {
    reader.current->altitude = value;
  }
}

std::variant<LocationTrack, std::string> parseGpxTrack(std::string_view text) {
  static const GMarkupParser parser = {gpxStart, gpxEnd, gpxText, nullptr, nullptr};
  GpxReader reader;
  GMarkupParseContext* context = g_markup_parse_context_new(&parser, G_MARKUP_PREFIX_ERROR_POSITION, &reader, nullptr);
  GError* error = nullptr;
  bool ok = g_markup_parse_context_parse(context, text.data(), static_cast<gssize>(text.size()), &error) &&
            g_markup_parse_context_end_parse(context, &error);
  g_markup_parse_context_free(context);
  if (!ok) {
    std::string message = reader.error.empty() ? std::string("not readable GPX: ") + error->message : reader.error;
    g_error_free(error);
    return message;
  }
  return completeTrack(reader.points);
}

}  // namespace

std::optional<std::string> checkCoordinate(double latitude, double longitude) {
  if (!std::isfinite(latitude) || latitude < -90 || latitude > 90) return std::string("latitude must be from -90 to 90");
  if (!std::isfinite(longitude) || longitude < -180 || longitude > 180) {
    return std::string("longitude must be from -180 to 180");
  }
  return std::nullopt;
}

double distanceMetres(double lat1, double lon1, double lat2, double lon2) {
  double dLat = radians(lat2 - lat1);
  double dLon = radians(lon2 - lon1);
  double a = std::sin(dLat / 2) * std::sin(dLat / 2) +
             std::cos(radians(lat1)) * std::cos(radians(lat2)) * std::sin(dLon / 2) * std::sin(dLon / 2);
  return 2 * kEarthRadius * std::asin(std::min(1.0, std::sqrt(a)));
}

double bearingDegrees(double lat1, double lon1, double lat2, double lon2) {
  double y = std::sin(radians(lon2 - lon1)) * std::cos(radians(lat2));
  double x = std::cos(radians(lat1)) * std::sin(radians(lat2)) -
             std::sin(radians(lat1)) * std::cos(radians(lat2)) * std::cos(radians(lon2 - lon1));
  double degrees = std::atan2(y, x) * 180.0 / kPi;
  return std::fmod(degrees + 360.0, 360.0);
}

std::variant<LocationTrack, std::string> parseLocationTrack(std::string_view text) {
  std::string_view start = base::trimAsciiWhiteSpace(text);
  if (!start.empty() && start.front() == '<') return parseGpxTrack(text);
  return parseCsvTrack(text);
}

std::variant<LocationTrack, std::string> readLocationTrack(const std::filesystem::path& path) {
  auto text = readTextFile(path, kMaxTrackFileBytes);
  if (!text.text) return *text.error;
  auto track = parseLocationTrack(*text.text);
  if (auto* message = std::get_if<std::string>(&track)) *message = path.string() + ": " + *message;
  return track;
}

}  // namespace tavero::platform
