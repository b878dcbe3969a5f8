#include "platform/sim/StrictJson.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace tavero::platform {
namespace {

size_t lineAt(std::string_view text, size_t offset) {
  offset = std::min(offset, text.size());
  return 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

bool isJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The strict reader's message without its prefix ("[json.exception...]
// parse error at line 2, column 1: ").
std::string readersWords(const char* message) {
  std::string_view text(message);
  size_t colon = text.find(": ");
  return std::string(colon == std::string_view::npos ? text : text.substr(colon + 2));
}

}  // namespace

std::optional<JsonDeparture> strictJsonDeparture(std::string_view text) {
  try {
    nlohmann::json parsed = nlohmann::json::parse(text.begin(), text.end());
    return std::nullopt;
  } catch (const nlohmann::json::parse_error& error) {
    size_t at = error.byte > 0 ? std::min<size_t>(error.byte - 1, text.size()) : 0;
    char found = at < text.size() ? text[at] : '\0';
    if (found == '/') return JsonDeparture{lineAt(text, at), "a comment"};
    if (found == '}' || found == ']') {
      size_t before = at;
      while (before > 0 && isJsonSpace(text[before - 1])) --before;
      if (before > 0 && text[before - 1] == ',') return JsonDeparture{lineAt(text, before - 1), "a trailing comma"};
    }
    return JsonDeparture{lineAt(text, at), readersWords(error.what())};
  }
}

}  // namespace tavero::platform
