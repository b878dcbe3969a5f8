#include "control/EventTime.h"

#include <ctime>
#include <cstdio>

namespace tavero::control {

std::string eventTimeText(std::chrono::system_clock::time_point time) {
  auto since = time.time_since_epoch();
  auto seconds = std::chrono::floor<std::chrono::seconds>(since);
  auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(since - seconds).count();
  std::time_t whole = static_cast<std::time_t>(seconds.count());
  std::tm utc{};
  gmtime_r(&whole, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
  return text;
}

}  // namespace tavero::control
