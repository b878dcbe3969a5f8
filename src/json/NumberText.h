// Number <-> text helpers shared by the value type, the writer and the reader.
// Internal to the json library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "json/JsonValue.h"

namespace tavero::json::detail {

// The smallest and largest exponent the reader leaves in a Decimal, and the
// most significant digits it keeps.
inline constexpr int kDecimalMinExponent = -128;
inline constexpr int kDecimalMaxExponent = 127;
inline constexpr int kDecimalMaxDigits = 38;

// 10^n for n in [0, 38].
Uint128 pow10u128(int n);

// Writes the decimal digits of `v` (no sign, no leading zeros; "0" for 0)
// to `buf`, which must hold 40 chars. Returns the number of digits.
size_t writeU128Digits(char* buf, Uint128 v);

// Plain decimal text (no exponent, no "+", no trailing fraction zeros),
// written at p, which must have room for maxDecimalTextLength(d) chars.
// Returns the end of the text.
size_t maxDecimalTextLength(const Decimal& d);
char* writeDecimalText(char* p, const Decimal& d);

// Shortest round-trip digits in plain notation; "1e999" and "-1e999" for
// the infinities, "null" for NaN.
// p must have room for kMaxDoubleTextLength chars.
inline constexpr size_t kMaxDoubleTextLength = 340;  // "-0." + 323 zeros + 17 digits
char* writeDoubleText(char* p, double d);

// Builds the Decimal for the number text sign/intDigits/fracDigits/exponent,
// where intDigits has no leading zeros. Keeps at most 38 significant digits
// (rounding half up) and brings the exponent into [-128, 127]; returns false
// when the number is too large for that.
bool makeDecimal(bool negative, const char* intDigits, size_t intCount, const char* fracDigits,
                 size_t fracCount, int64_t exponent, Decimal& out);

}  // namespace tavero::json::detail
