#include "platform/sim/PlainText.h"

#include <charconv>
#include <cmath>

#include "base/AsciiText.h"

namespace tavero::platform {


std::optional<double> parseNumber(std::string_view text) {
  text = base::trimAsciiWhiteSpace(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::vector<std::string_view> splitFields(std::string_view text, char separator) {
  std::vector<std::string_view> fields;
  for (;;) {
    size_t at = text.find(separator);
    fields.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return fields;
    text.remove_prefix(at + 1);
  }
}

base::FileContent readTextFile(const std::filesystem::path& path, uintmax_t maxBytes) {
  std::string where = path.string() + ": ";
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return {std::nullopt, where + "is not a readable file"};
  base::FileRead read = base::readFile(path, maxBytes);
  switch (read.result) {
    case base::FileRead::Result::read: return {std::move(read.text), std::nullopt};
    case base::FileRead::Result::missing:
    case base::FileRead::Result::cannotOpen: return {std::nullopt, where + "cannot be opened"};
    case base::FileRead::Result::tooLarge:
      return {std::nullopt, where + "is larger than " + std::to_string(maxBytes >> 20) + " MiB"};
    case base::FileRead::Result::cannotRead: break;
  }
  return {std::nullopt, where + "cannot be read"};
}

}  // namespace tavero::platform
