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

bool isControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

// C1 controls (U+0080..U+009F) are two bytes in UTF-8, C2 80..C2 9F; some
// terminals take U+009B as the start of an escape sequence.
bool isC1Control(std::string_view text, size_t at) {
  return static_cast<unsigned char>(text[at]) == 0xc2 && at + 1 < text.size() &&
         static_cast<unsigned char>(text[at + 1]) >= 0x80 && static_cast<unsigned char>(text[at + 1]) <= 0x9f;
}

bool needsEscaping(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i)
    if (isControl(static_cast<unsigned char>(text[i])) || isC1Control(text, i)) return true;
  return false;
}

}  // namespace

std::string oneLine(std::string_view text) {
  if (!needsEscaping(text)) return std::string(text);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string line;
  line.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else if (c == '\t') {
      line += "\\t";
    } else if (isControl(c)) {
      line += "\\x";
      line += kHex[c >> 4];
      line += kHex[c & 15];
    } else if (isC1Control(text, i)) {
      auto code = static_cast<unsigned char>(text[++i]);
      line += "\\u00";
      line += kHex[code >> 4];
      line += kHex[code & 15];
    } else {
      line += static_cast<char>(c);
    }
  }
  return line;
}

void setMinimumLevel(Level level) { minimumLevel = level; }

void setSink(Sink newSink) {
  std::lock_guard lock(sinkMutex);
  sink = std::move(newSink);
}

void write(Level level, std::string_view message) {
  if (level < minimumLevel.load()) return;
  // Messages carry text from pages and files: a newline in it must not
  // start what looks like another line of the shell's.
  std::string escaped;
  if (needsEscaping(message)) message = escaped = oneLine(message);
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
