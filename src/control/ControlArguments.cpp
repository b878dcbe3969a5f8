#include "control/ControlArguments.h"

#include <algorithm>
#include <charconv>

#include "json/JsonCodec.h"
#include "json/Utf8.h"

namespace tavero::control {

std::string ControlArguments::quoted(std::string_view word) {
  constexpr size_t kShown = 60;
  std::string text = "\"";
  size_t i = 0;
  for (size_t shown = 0; i < word.size() && shown < kShown; ++shown) {
    size_t length = json::utf8SequenceLength(word.substr(i));
    unsigned char c = static_cast<unsigned char>(word[i]);
    if (length == 0 || c < 0x20 || c == 0x7f) {
      text += '?';  // a control character or a byte that is not UTF-8
      i += 1;
    } else {
      text += word.substr(i, length);
      i += length;
    }
  }
  if (i < word.size()) text += "...";
  return text + "\"";
}

std::optional<std::string> ControlArguments::option(std::string_view name) {
  std::optional<std::string> value;
  for (size_t i = position_; i < words_.size();) {
    if (words_[i] != name) {
      ++i;
      continue;
    }
    if (value) throw ControlUsageError(std::string(name) + " is given twice");
    if (i + 1 >= words_.size()) throw ControlUsageError(std::string(name) + " needs a value");
    value = words_[i + 1];
    words_.erase(words_.begin() + static_cast<std::ptrdiff_t>(i), words_.begin() + static_cast<std::ptrdiff_t>(i) + 2);
  }
  return value;
}

bool ControlArguments::flag(std::string_view name) {
  auto first = std::find(words_.begin() + static_cast<std::ptrdiff_t>(position_), words_.end(), name);
  if (first == words_.end()) return false;
  if (std::find(first + 1, words_.end(), name) != words_.end())
    throw ControlUsageError(std::string(name) + " is given twice");
  words_.erase(first);
  return true;
}

std::string ControlArguments::next(std::string_view what) {
  if (empty()) throw ControlUsageError("missing " + std::string(what));
  return words_[position_++];
}

std::optional<std::string> ControlArguments::nextIfAny() {
  if (empty()) return std::nullopt;
  return words_[position_++];
}

std::string ControlArguments::rest(std::string_view what) {
  std::string joined = next(what);
  while (!empty()) joined += " " + words_[position_++];
  return joined;
}

int64_t ControlArguments::integer(std::string_view what, int64_t min, int64_t max) {
  std::string word = next(what);
  int64_t number = 0;
  auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), number);
  if (error != std::errc() || end != word.data() + word.size() || number < min || number > max) {
    throw ControlUsageError(std::string(what) + " must be a whole number from " + std::to_string(min) + " to " +
                            std::to_string(max) + ", not " + quoted(word));
  }
  return number;
}

json::Value ControlArguments::jsonValue(std::string_view what) {
  std::string word = next(what);
  size_t start = word.find_first_not_of(" \t\r\n");
  if (start != std::string::npos && word[start] == '[') {
    if (auto array = json::JsonCodec::arrayWithJSONString(word)) return json::Value(std::move(*array));
  } else if (start != std::string::npos && word[start] == '{') {
    if (auto object = json::JsonCodec::dictionaryWithJSONString(word)) return json::Value(std::move(*object));
  }
  throw ControlUsageError(std::string(what) + " must be the JSON text of an object or an array, not " + quoted(word));
}

void ControlArguments::end() const {
  if (!empty()) throw ControlUsageError("unexpected argument " + quoted(words_[position_]));
}

}  // namespace tavero::control
