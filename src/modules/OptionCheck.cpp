#include "modules/OptionCheck.h"

#include <charconv>

#include "log/RefusalLog.h"

namespace tavero::modules {

namespace {

std::string_view trimmed(std::string_view text) {
  constexpr std::string_view kBlank = " \t\r\n";
  size_t first = text.find_first_not_of(kBlank);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlank) - first + 1);
}

// The page's text as the log and the message show it: short and on one line.
std::string shown(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, 40)) out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
  return "\"" + out + (text.size() > 40 ? "...\"" : "\"");
}

}  // namespace

OptionCheck::OptionCheck(const bridge::Invocation& call, std::string_view module) : call_(call), module_(module) {}

std::optional<int64_t> OptionCheck::wholeInteger(std::string_view text) {
  text = trimmed(text);
  // from_chars takes a "-" but no "+"; a "+" before a sign is no number.
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

int64_t OptionCheck::integer(std::string_view key, int64_t fallback, int64_t low, int64_t high,
                             std::string_view allowed) {
  const std::string_view text = call_.text(key);
  if (trimmed(text).empty()) return fallback;
  std::optional<int64_t> value = wholeInteger(text);
  if (value && *value >= low && *value <= high) return *value;
  refuse(std::string(key) + " must be " + std::string(allowed) + ", not " + shown(text));
  return fallback;
}

void OptionCheck::refuse(const std::string& why) {
  if (refusal_) return;
  refusal_ = std::string(kRefusedPrefix) + why;
  log::refusal(module_ + ": refused a call from " + call_.pageName() + ": " + why);
}

}  // namespace tavero::modules
