#include "modules/FixedPointText.h"

#include <charconv>

namespace tavero::modules {

std::string fixedPointText(double value) {
  // to_chars, unlike printf, ignores the locale that GTK sets up: a German
  // desktop must still give "0.500000", not "0,500000".
  char text[400];  // the largest double in fixed notation needs 316
  auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6).ptr;
  return std::string(text, end);
}

}  // namespace tavero::modules
