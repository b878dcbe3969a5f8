// Diagnostic lines for developers, on standard error. Pages never see them.
// Thread-safe: lines from different threads never interleave. A message is
// one line: control characters in it are written escaped.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tavero::log {

enum class Level { Debug, Info, Warning, Error };

void write(Level level, std::string_view message);
inline void debug(std::string_view m) { write(Level::Debug, m); }
inline void info(std::string_view m) { write(Level::Info, m); }
inline void warning(std::string_view m) { write(Level::Warning, m); }
inline void error(std::string_view m) { write(Level::Error, m); }

// `text` with its control characters written out so that it stays on one
// line: a newline as \n, ESC as \x1b, U+009B as \u009b. Every message goes
// through this.
std::string oneLine(std::string_view text);

// Lines below this level are dropped (default Info; TAVERO_LOG=debug lowers it).
void setMinimumLevel(Level level);

// Replaces standard error as the destination (tests capture lines this way);
// an empty function restores standard error.
using Sink = std::function<void(Level, std::string_view)>;
void setSink(Sink sink);

}  // namespace tavero::log
