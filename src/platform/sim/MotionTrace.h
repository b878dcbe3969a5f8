// A recorded motion trace for the simulated motion sensors: rows of sensor
// values with the time each is reached, read from a CSV file whose first
// line names its columns:
//   time,accelX,accelY,accelZ,gyroX,gyroY,gyroZ,roll,pitch,yaw
// time in seconds from any origin (required, not decreasing); acceleration
// in units of gravity, rotation rate in radians per second, attitude in
// radians. Each group of three is optional, but all three or none; an
// empty cell keeps that value from the row before. Lines starting with '#'
// are comments.
//
// Pure functions apart from reading the file; any thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/MotionService.h"

namespace tavero::platform {

struct MotionTraceRow {
  double offset = 0;  // seconds after the first row
  std::optional<MotionVector> acceleration;
  std::optional<MotionVector> rotationRate;
  std::optional<Attitude> attitude;
};

using MotionTrace = std::vector<MotionTraceRow>;

inline constexpr size_t kMaxTraceRows = 1'000'000;
inline constexpr double kMaxTraceSeconds = 366.0 * 24 * 3600;  // a trace plays for a year at most

std::variant<MotionTrace, std::string> parseMotionTrace(std::string_view text);
// parseMotionTrace on a file of at most 64 MiB; messages start with the path.
std::variant<MotionTrace, std::string> readMotionTrace(const std::filesystem::path& path);

}  // namespace tavero::platform
