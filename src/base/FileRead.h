// Reading a whole file into memory, optionally up to a size: what callers
// read is small (settings, profiles, tracks, /proc entries), and a size
// limit keeps a wrong path (a huge file, a device) from filling memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>

namespace tavero::base {

inline constexpr uintmax_t kNoSizeLimit = std::numeric_limits<uintmax_t>::max();

// What reading a file found. The limit is checked while reading, not
// against the size the folder reports, which /proc files give as 0.
struct FileRead {
  enum class Result { read, missing, cannotOpen, tooLarge, cannotRead };
  Result result = Result::read;
  std::string text;  // the whole content when read
  int error = 0;     // the system's error number when opening or reading failed
  bool ok() const { return result == Result::read; }
};
FileRead readFile(const std::filesystem::path& file, uintmax_t maxBytes = kNoSizeLimit);

// The content of `file`, or nothing, for callers that take an unreadable
// file like a missing one.
std::optional<std::string> readFileText(const std::filesystem::path& file, uintmax_t maxBytes = kNoSizeLimit);

// The content of `file` (`text`), or why it cannot be read (`error`, which
// starts with what failed and names the file). A missing file gives neither.
struct FileContent {
  std::optional<std::string> text;
  std::optional<std::string> error;
};
FileContent readWholeFile(const std::filesystem::path& file);

}  // namespace tavero::base
