// Where a text stops being strict JSON (RFC 8259), read by a strict reader
// (nlohmann::json). The shell's own reader forgives a trailing comma and
// text before the first "{"; a profile that relies on that works here but
// not in other tools, so the shell names the line.
//
// Pure; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tavero::platform {

struct JsonDeparture {
  size_t line = 0;  // from 1
  // "a trailing comma", "a comment", or the strict reader's words.
  std::string what;
};

// nullopt when `text` is strict JSON.
std::optional<JsonDeparture> strictJsonDeparture(std::string_view text);

}  // namespace tavero::platform
