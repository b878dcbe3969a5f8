#include "json/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iterator>

namespace tavero::json::detail {

namespace {

constexpr uint64_t kPow10u64[20] = {1ull,
                                    10ull,
                                    100ull,
                                    1000ull,
                                    10000ull,
                                    100000ull,
                                    1000000ull,
                                    10000000ull,
                                    100000000ull,
                                    1000000000ull,
                                    10000000000ull,
                                    100000000000ull,
                                    1000000000000ull,
                                    10000000000000ull,
                                    100000000000000ull,
                                    1000000000000000ull,
                                    10000000000000000ull,
                                    100000000000000000ull,
                                    1000000000000000000ull,
                                    10000000000000000000ull};

struct Pow10Table {
  Uint128 v[39];
  constexpr Pow10Table() : v() {
    v[0] = 1;
    for (int i = 1; i < 39; ++i) v[i] = v[i - 1] * 10;
  }
};
constexpr Pow10Table kPow10u128;

// Adds the digits [p, p + n) to m (m = m * 10^n + digits), 19 at a time so
// that most of the work is 64-bit arithmetic.
inline void accumulateDigits(Uint128& m, const char* p, size_t n) {
  while (n != 0) {
    size_t k = std::min<size_t>(n, 19);
    uint64_t chunk = 0;
    for (size_t i = 0; i < k; ++i) chunk = chunk * 10 + static_cast<uint64_t>(p[i] - '0');
    m = m * kPow10u64[k] + chunk;
    p += k;
    n -= k;
  }
}

}  // namespace

Uint128 pow10u128(int n) { return kPow10u128.v[n]; }

size_t writeU128Digits(char* buf, Uint128 v) {
  if (v <= UINT64_MAX) {
    return static_cast<size_t>(std::to_chars(buf, buf + 40, static_cast<uint64_t>(v)).ptr - buf);
  }
  // Peel off the low 19 digits; what is left has at most 20 digits, which may
  // still exceed 64 bits, so recurse once more if needed.
  constexpr uint64_t kChunk = 10000000000000000000ull;  // 10^19
  uint64_t low = static_cast<uint64_t>(v % kChunk);
  size_t n = writeU128Digits(buf, v / kChunk);
  char tmp[20];
  size_t k = static_cast<size_t>(std::to_chars(tmp, tmp + 20, low).ptr - tmp);
  std::memset(buf + n, '0', 19 - k);
  std::memcpy(buf + n + (19 - k), tmp, k);
  return n + 19;
}

size_t maxDecimalTextLength(const Decimal& d) {
  // Sign, "0.", the zeros between point and digits (or after the digits),
  // and at most 39 digits.
  return 3 + static_cast<size_t>(d.exponent < 0 ? -static_cast<int64_t>(d.exponent) : d.exponent) + 40;
}

char* writeDecimalText(char* o, const Decimal& d) {
  if (d.mantissa == 0) {
    *o++ = '0';
    return o;
  }
  char digits[40];
  size_t n = writeU128Digits(digits, d.mantissa);
  int64_t e = d.exponent;
  // Fraction digits that are zero carry no information: "1.50" is 1.5.
  while (e < 0 && digits[n - 1] == '0') {
    --n;
    ++e;
  }
  if (d.negative) *o++ = '-';
  if (e >= 0) {
    std::memcpy(o, digits, n);
    o += n;
    std::memset(o, '0', static_cast<size_t>(e));
    return o + e;
  }
  size_t frac = static_cast<size_t>(-e);
  if (n > frac) {
    std::memcpy(o, digits, n - frac);
    o += n - frac;
    *o++ = '.';
    std::memcpy(o, digits + (n - frac), frac);
    return o + frac;
  }
  *o++ = '0';
  *o++ = '.';
  std::memset(o, '0', frac - n);
  o += frac - n;
  std::memcpy(o, digits, n);
  return o + n;
}

namespace {

constexpr double kPow10d[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};

// Lays out `n` digits with `intCount` of them before the decimal point
// (zero or negative: that many zeros after "0.").
char* writePlain(char* o, const char* digits, size_t n, int intCount) {
  if (intCount >= static_cast<int>(n)) {
    std::memcpy(o, digits, n);
    o += n;
    std::memset(o, '0', static_cast<size_t>(intCount) - n);
    return o + (intCount - static_cast<int>(n));
  }
  if (intCount > 0) {
    std::memcpy(o, digits, static_cast<size_t>(intCount));
    o += intCount;
    *o++ = '.';
    std::memcpy(o, digits + intCount, n - static_cast<size_t>(intCount));
    return o + (n - static_cast<size_t>(intCount));
  }
  *o++ = '0';
  *o++ = '.';
  std::memset(o, '0', static_cast<size_t>(-intCount));
  o += -intCount;
  std::memcpy(o, digits, n);
  return o + n;
}

// The shortest digits for values that are r / 10^k with a small integer r,
// which covers most doubles seen in practice (counts, prices, coordinates),
// without the general shortest-digits search.
//
// For the smallest k where the nearest integer r to |d| * 10^k gives back
// |d| as r / 10^k (both operands exact, so the division is correctly rounded),
// "r with k fraction digits" reads back as d, and no string with fewer
// fraction digits does. Keeping r below 2^50 makes the round-trip interval of
// d narrower than a quarter of 10^-k and the error of the product below 1/8,
// so r is the only candidate at that scale and is found exactly: the text is
// the one to_chars would give.
char* writeShortDouble(char* o, double a, bool negative) {
  constexpr double kLimit = 1125899906842624.0;  // 2^50
  for (int k = 0; k < static_cast<int>(std::size(kPow10d)); ++k) {
    double m = a * kPow10d[k];
    if (m >= kLimit) break;
    uint64_t r = static_cast<uint64_t>(m);
    if (m - static_cast<double>(r) >= 0.5) ++r;  // the subtraction is exact
    if (static_cast<double>(r) / kPow10d[k] != a) continue;
    char digits[20];
    size_t n = static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, r).ptr - digits);
    if (negative) *o++ = '-';
    return writePlain(o, digits, n, static_cast<int>(n) - k);
  }
  return nullptr;
}

}  // namespace

char* writeDoubleText(char* o, double d) {
  if (std::isnan(d)) {
    std::memcpy(o, "null", 4);
    return o + 4;
  }
  if (std::isinf(d)) {
    // JSON has no word for infinity; a number beyond the doubles' range is
    // read back (by JSON.parse too) as infinity.
    if (d < 0) *o++ = '-';
    std::memcpy(o, "1e999", 5);
    return o + 5;
  }
  if (d == 0) {  // also -0.0: a zero is written without sign
    *o++ = '0';
    return o;
  }
  if (char* end = writeShortDouble(o, std::fabs(d), d < 0)) return end;

  // General case: shortest round-trip digits from to_chars in scientific form
  // ("-d.ddde+XX"), laid out without the exponent.
  char sci[40];
  char* end = std::to_chars(sci, sci + sizeof sci, d, std::chars_format::scientific).ptr;
  const char* p = sci;
  if (*p == '-') {
    *o++ = '-';
    ++p;
  }
  char digits[20];
  size_t n = 0;
  while (*p != 'e') {
    if (*p != '.') digits[n++] = *p;
    ++p;
  }
  ++p;  // 'e'
  bool expNegative = *p == '-';
  ++p;  // sign, always present
  int exp = 0;
  while (p < end) exp = exp * 10 + (*p++ - '0');
  if (expNegative) exp = -exp;
  return writePlain(o, digits, n, exp + 1);
}

bool makeDecimal(bool negative, const char* intDigits, size_t intCount, const char* fracDigits,
                 size_t fracCount, int64_t exponent, Decimal& out) {
  // The significant digits are the integer digits followed by the fraction
  // digits; with no integer digits, the fraction's leading zeros are not
  // significant.
  const char* fracSig = fracDigits;
  size_t fracSigCount = fracCount;
  if (intCount == 0) {
    while (fracSigCount != 0 && *fracSig == '0') {
      ++fracSig;
      --fracSigCount;
    }
  }
  size_t sig = intCount + fracSigCount;
  int64_t e = exponent - static_cast<int64_t>(fracCount);
  Uint128 m = 0;
  if (sig <= kDecimalMaxDigits) {
    accumulateDigits(m, intDigits, intCount);
    accumulateDigits(m, fracSig, fracSigCount);
  } else {
    size_t fromInt = std::min<size_t>(intCount, kDecimalMaxDigits);
    accumulateDigits(m, intDigits, fromInt);
    accumulateDigits(m, fracSig, kDecimalMaxDigits - fromInt);
    char firstDropped = kDecimalMaxDigits < intCount ? intDigits[kDecimalMaxDigits]
                                                     : fracSig[kDecimalMaxDigits - intCount];
    e += static_cast<int64_t>(sig - kDecimalMaxDigits);
    if (firstDropped >= '5') {
      ++m;
      if (m == kPow10u128.v[kDecimalMaxDigits]) {
        m = kPow10u128.v[kDecimalMaxDigits - 1];
        ++e;
      }
    }
  }

  if (m == 0) {
    out = Decimal{};
    return true;
  }
  if (e < kDecimalMinExponent) {
    int64_t drop = kDecimalMinExponent - e;
    m = drop > kDecimalMaxDigits ? 0 : m / kPow10u128.v[drop];
    e = m == 0 ? 0 : kDecimalMinExponent;
    if (m == 0) negative = false;
  } else if (e > kDecimalMaxExponent) {
    // Fold exponent into the mantissa as trailing zeros while it still fits.
    while (e > kDecimalMaxExponent && m < kPow10u128.v[kDecimalMaxDigits - 1]) {
      m *= 10;
      --e;
    }
    if (e > kDecimalMaxExponent) return false;
  }
  out.mantissa = m;
  out.exponent = static_cast<int>(e);
  out.negative = negative;
  return true;
}

}  // namespace tavero::json::detail
