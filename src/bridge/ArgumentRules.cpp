#include "bridge/ArgumentRules.h"

#include <limits>

namespace tavero::bridge {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view skipSpace(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  return text;
}

template <class Int>
Int integerValue(std::string_view text) {
  text = skipSpace(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Accumulate toward the sign so that the smallest value is reachable.
  Int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    int digit = c - '0';
    if (negative) {
      if (value < (std::numeric_limits<Int>::min() + digit) / 10) return std::numeric_limits<Int>::min();
      value = value * 10 - digit;
    } else {
      if (value > (std::numeric_limits<Int>::max() - digit) / 10) return std::numeric_limits<Int>::max();
      value = value * 10 + digit;
    }
  }
  return value;
}

}  // namespace

bool boolValue(std::string_view text) {
  text = skipSpace(text);
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  while (!text.empty() && text.front() == '0') text.remove_prefix(1);
  if (text.empty()) return false;
  char c = text.front();
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

int32_t intValue(std::string_view text) { return integerValue<int32_t>(text); }
int64_t longLongValue(std::string_view text) { return integerValue<int64_t>(text); }

}  // namespace tavero::bridge
