#include "platform/sim/MotionTrace.h"

#include <array>
#include <map>

#include "base/AsciiText.h"
#include "platform/sim/PlainText.h"

namespace tavero::platform {
namespace {

constexpr uintmax_t kMaxTraceFileBytes = 64u << 20;

// Column indices: 0 time, then three per group.
const std::map<std::string_view, int> kColumns = {
    {"time", 0},  {"accelX", 1}, {"accelY", 2}, {"accelZ", 3}, {"gyroX", 4},
    {"gyroY", 5}, {"gyroZ", 6},  {"roll", 7},   {"pitch", 8},  {"yaw", 9},
};
constexpr std::array<const char*, 3> kGroups = {"accelX, accelY, accelZ", "gyroX, gyroY, gyroZ",
                                                "roll, pitch, yaw"};

}  // namespace

std::variant<MotionTrace, std::string> parseMotionTrace(std::string_view text) {
  std::vector<int> columns;  // per cell, its column index
  std::array<std::optional<double>, 10> values;  // the latest value of each column
  MotionTrace trace;
  double firstTime = 0;
  size_t lineNumber = 0;
  for (std::string_view line : splitFields(text, '\n')) {
    ++lineNumber;
    line = base::trimAsciiWhiteSpace(line);
    if (line.empty() || line.front() == '#') continue;
    std::string where = "line " + std::to_string(lineNumber) + ": ";
    auto cells = splitFields(line, ',');
    if (columns.empty()) {
      std::array<int, 10> seen{};
      for (auto cell : cells) {
        auto it = kColumns.find(base::trimAsciiWhiteSpace(cell));
        if (it == kColumns.end()) {
          return where + "unknown column \"" + std::string(base::trimAsciiWhiteSpace(cell)) +
                 "\" (known: time, accelX, accelY, accelZ, gyroX, gyroY, gyroZ, roll, pitch, yaw)";
        }
        if (seen[it->second]++) return where + "column \"" + std::string(it->first) + "\" appears twice";
        columns.push_back(it->second);
      }
      if (!seen[0]) return where + "the header must name a time column";
      for (int group = 0; group < 3; ++group) {
        int named = seen[1 + group * 3] + seen[2 + group * 3] + seen[3 + group * 3];
        if (named != 0 && named != 3) return where + "name all of " + kGroups[group] + " or none";
      }
      continue;
    }
    if (cells.size() != columns.size()) {
      return where + "has " + std::to_string(cells.size()) + " cells, the header names " +
             std::to_string(columns.size());
    }
    if (trace.size() == kMaxTraceRows) return where + "the trace has more than a million rows";
    for (size_t i = 0; i < cells.size(); ++i) {
      std::string_view cell = base::trimAsciiWhiteSpace(cells[i]);
      if (cell.empty() && columns[i] != 0) continue;
      auto value = parseNumber(cell);
      if (!value) return where + "\"" + std::string(cell) + "\" is not a number";
      values[columns[i]] = value;
    }
    MotionTraceRow row;
    if (trace.empty()) firstTime = *values[0];
    row.offset = *values[0] - firstTime;
    if (!trace.empty() && row.offset < trace.back().offset) return where + "time goes backwards";
    if (row.offset > kMaxTraceSeconds) return where + "comes more than a year after the first row";
    auto vector = [&](int first) -> std::optional<MotionVector> {
      if (!values[first] || !values[first + 1] || !values[first + 2]) return std::nullopt;
      return MotionVector{*values[first], *values[first + 1], *values[first + 2]};
    };
    row.acceleration = vector(1);
    row.rotationRate = vector(4);
    if (auto attitude = vector(7)) row.attitude = Attitude{attitude->x, attitude->y, attitude->z};
    trace.push_back(row);
  }
  if (columns.empty()) return std::string("no header line naming the columns");
  if (trace.empty()) return std::string("the trace has no rows");
  return trace;
}

std::variant<MotionTrace, std::string> readMotionTrace(const std::filesystem::path& path) {
  auto text = readTextFile(path, kMaxTraceFileBytes);
  if (!text.text) return *text.error;
  auto trace = parseMotionTrace(*text.text);
  if (auto* message = std::get_if<std::string>(&trace)) *message = path.string() + ": " + *message;
  return trace;
}

}  // namespace tavero::platform
