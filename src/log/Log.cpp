#include "log/Log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

namespace tavero::log {
namespace {

Level initialLevel() {
  const char* env = std::getenv("TAVERO_LOG");
  return env && std::string_view(env) == "debug" ? Level::Debug : Level::Info;
}

std::atomic<Level> minimumLevel{initialLevel()};
std::mutex sinkMutex;  // guards sink and serialises writes to stderr
Sink sink;

const char* levelName(Level level) {
  switch (level) {
    case Level::Debug: return "debug";
    case Level::Info: return "info";
    case Level::Warning: return "warning";
    case Level::Error: return "error";
  }
  return "?";
}

}  // namespace

void setMinimumLevel(Level level) { minimumLevel = level; }

void setSink(Sink newSink) {
  std::lock_guard lock(sinkMutex);
  sink = std::move(newSink);
}

void write(Level level, std::string_view message) {
  if (level < minimumLevel.load()) return;
  std::lock_guard lock(sinkMutex);
  if (sink) {
    sink(level, message);
    return;
  }
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  int millis = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
  std::fprintf(stderr, "%s.%03d tavero %s: %.*s\n", stamp, millis, levelName(level),
               static_cast<int>(message.size()), message.data());
}

}  // namespace tavero::log
