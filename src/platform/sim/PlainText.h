// Texts that developers write (track files, traces, commands): numbers in
// plain decimal notation with an optional sign and exponent, read the same
// whatever the process's locale; fields; bounded file reads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/FileRead.h"

namespace tavero::platform {

// The finite number that is the whole of `text` (surrounding white space
// allowed); nullopt otherwise.
std::optional<double> parseNumber(std::string_view text);

// `text` split at every `separator`, pieces kept as they are.
std::vector<std::string_view> splitFields(std::string_view text, char separator);

// The content of the regular file at `path` (`text`), or a message starting
// with the path (`error`) when it is missing, cannot be read or holds more
// than `maxBytes`.
base::FileContent readTextFile(const std::filesystem::path& path, uintmax_t maxBytes);

}  // namespace tavero::platform
