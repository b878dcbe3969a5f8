#include "platform/sim/PlainText.h"

#include <charconv>
#include <cmath>
#include <fstream>

namespace tavero::platform {

std::string_view trimWhiteSpace(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n\f\v";
  size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(kSpace);
  return text.substr(first, last - first + 1);
}

std::optional<double> parseNumber(std::string_view text) {
  text = trimWhiteSpace(text);
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

std::variant<std::string, std::string> readTextFile(const std::filesystem::path& path, uintmax_t maxBytes) {
  using Result = std::variant<std::string, std::string>;
  std::string where = path.string() + ": ";
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return Result(std::in_place_index<1>, where + "is not a readable file");
  std::ifstream in(path, std::ios::binary);
  if (!in) return Result(std::in_place_index<1>, where + "cannot be opened");
  std::string text;
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<size_t>(in.gcount()));
    if (text.size() > maxBytes) {
      return Result(std::in_place_index<1>, where + "is larger than " + std::to_string(maxBytes >> 20) + " MiB");
    }
  }
  if (in.bad()) return Result(std::in_place_index<1>, where + "cannot be read");
  return Result(std::in_place_index<0>, std::move(text));
}

}  // namespace tavero::platform
