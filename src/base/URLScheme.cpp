#include "base/URLScheme.h"

#include <algorithm>

namespace tavero::base {
namespace {

constexpr bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool isURLScheme(std::string_view text) {
  return !text.empty() && isAsciiLetter(text.front()) && std::all_of(text.begin(), text.end(), [](char c) {
           return isAsciiLetter(c) || isAsciiDigit(c) || c == '+' || c == '-' || c == '.';
         });
}

std::string_view urlSchemeOf(std::string_view url) {
  size_t colon = url.find(':');
  if (colon == std::string_view::npos || !isURLScheme(url.substr(0, colon))) return {};
  return url.substr(0, colon);
}

}  // namespace tavero::base
