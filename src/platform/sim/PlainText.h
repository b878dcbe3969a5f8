// Texts that developers write (track files, traces, commands): numbers in
// plain decimal notation with an optional sign and exponent, read the same
// whatever the process's locale; fields; bounded file reads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tavero::platform {

// The finite number that is the whole of `text` (surrounding white space
// allowed); nullopt otherwise.
std::optional<double> parseNumber(std::string_view text);

// `text` split at every `separator`, pieces kept as they are.
std::vector<std::string_view> splitFields(std::string_view text, char separator);

std::string_view trimWhiteSpace(std::string_view text);

// The content of the regular file at `path`, or a message (starting with the
// path) when it cannot be read or holds more than `maxBytes`.
std::variant<std::string, std::string> readTextFile(const std::filesystem::path& path, uintmax_t maxBytes);

}  // namespace tavero::platform
