// How modules read plain argument texts: every query value arrives as text,
// and flags and integers are read from it by these two rules.
#pragma once

#include <cstdint>
#include <string_view>

namespace tavero::bridge {

// True when, after leading white space, an optional sign and leading zeros,
// the first character is Y, y, T, t or a digit 1-9 ("true", "1", "yes",
// "TRUE"); false otherwise, also for the empty text.
bool boolValue(std::string_view text);

// The decimal digits after leading white space and an optional sign, up to
// the first other character; saturates at the type's limits; 0 without digits.
int32_t intValue(std::string_view text);
int64_t longLongValue(std::string_view text);

}  // namespace tavero::bridge
