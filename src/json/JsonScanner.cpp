#include "json/JsonScanner.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "json/MemberPool.h"
#include "json/NumberText.h"

namespace tavero::json {

namespace {

// Objects with up to this many members are checked for repeated keys by a
// linear search while they are read.
constexpr size_t kLinearMembers = 16;

inline bool isDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Length of the Unicode white space or line break encoded at p (a byte
// >= 0x80), or 0: U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029,
// U+202F, U+205F, U+3000.
inline size_t unicodeSpaceLength(const char* p, const char* end) {
  auto b = [p](int i) { return static_cast<unsigned char>(p[i]); };
  ptrdiff_t avail = end - p;
  if (b(0) == 0xC2) {
    return avail >= 2 && (b(1) == 0x85 || b(1) == 0xA0) ? 2 : 0;
  }
  if (avail < 3) return 0;
  switch (b(0)) {
    case 0xE1: return b(1) == 0x9A && b(2) == 0x80 ? 3 : 0;
    case 0xE2:
      if (b(1) == 0x80) {
        unsigned c = b(2);
        return (c >= 0x80 && c <= 0x8A) || c == 0xA8 || c == 0xA9 || c == 0xAF ? 3 : 0;
      }
      return b(1) == 0x81 && b(2) == 0x9F ? 3 : 0;
    case 0xE3: return b(1) == 0x80 && b(2) == 0x80 ? 3 : 0;
    default: return 0;
  }
}

// Moves p past white space.
inline const char* skipSpace(const char* p, const char* end) {
  while (p < end) {
    unsigned char c = static_cast<unsigned char>(*p);
    // Most scans start at a printable ASCII character: one comparison.
    if (static_cast<unsigned char>(c - '!') < 0x7F - '!') break;
    if (c == ' ' || (c >= '\t' && c <= '\r')) {
      ++p;
    } else if (c < 0x80) {
      break;
    } else if (size_t n = unicodeSpaceLength(p, end)) {
      p += n;
    } else {
      break;
    }
  }
  return p;
}

static_assert(std::endian::native == std::endian::little);  // see findQuoteOrBackslash
constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

// The first '"' or '\\' in [p, end), or end. Works 16 bytes at a time where
// SSE2 is there (every x86-64), then 8 bytes at a time in a word, where the
// lowest flagged byte of the zero-byte test is always exact.
inline const char* findQuoteOrBackslash(const char* p, const char* end) {
#ifdef __SSE2__
  const __m128i quotes = _mm_set1_epi8('"');
  const __m128i backslashes = _mm_set1_epi8('\\');
  while (end - p >= 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, quotes), _mm_cmpeq_epi8(block, backslashes)));
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  while (end - p >= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    uint64_t q = w ^ (kOnes * '"');
    uint64_t s = w ^ (kOnes * '\\');
    uint64_t m = ((q - kOnes) & ~q & kHighs) | ((s - kOnes) & ~s & kHighs);
    if (m != 0) return p + (__builtin_ctzll(m) >> 3);
    p += 8;
  }
  while (p < end && *p != '"' && *p != '\\') ++p;
  return p;
}

// Whether two keys are equal. Keys of one object are mostly short and often of
// the same length ("name", "note"); a byte loop decides those at the first
// difference, without a call.
inline bool sameKey(const std::string& a, const std::string& b) {
  const size_t n = a.size();
  if (n != b.size()) return false;
  if (n > 16) return std::memcmp(a.data(), b.data(), n) == 0;
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// Numbers with up to this many digits (and no exponent) take the short
// path: 10^19 - 1 fits in 64 bits.
constexpr size_t kShortNumberDigits = 19;

inline uint64_t accumulateShort(uint64_t value, const char* digits, size_t count) {
  for (size_t i = 0; i < count; ++i) value = value * 10 + static_cast<uint64_t>(digits[i] - '0');
  return value;
}

inline int hexValue(char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Four hex digits at p, or false.
inline bool readHex4(const char* p, const char* end, uint32_t& unit) {
  if (end - p < 4) return false;
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    int h = hexValue(p[i]);
    if (h < 0) return false;
    v = v << 4 | static_cast<uint32_t>(h);
  }
  unit = v;
  return true;
}

// Writes `cp` as UTF-8 at o; returns the end.
char* writeUtf8(char* o, uint32_t cp) {
  if (cp < 0x80) {
    *o++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *o++ = static_cast<char>(0xC0 | cp >> 6);
    *o++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *o++ = static_cast<char>(0xE0 | cp >> 12);
    *o++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    *o++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *o++ = static_cast<char>(0xF0 | cp >> 18);
    *o++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    *o++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    *o++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return o;
}

// The element stack a finished scanner leaves to the next one on its thread,
// unless it grew beyond this many elements (640 KiB).
constexpr size_t kKeptElements = 16 * 1024;
thread_local std::vector<Value> spareElements;

}  // namespace

JsonScanner::JsonScanner(std::string_view text)
    : elements_(std::move(spareElements)), begin_(text.data()), cur_(text.data()), end_(text.data() + text.size()) {
  elements_.clear();
}

JsonScanner::~JsonScanner() {
  if (pool_ != nullptr) pool_->release(kPoolShare - pooledObjects_ + 1);
  if (elements_.capacity() > kKeptElements) return;
  elements_.clear();
  spareElements = std::move(elements_);
}

bool JsonScanner::scanJSONWhiteSpace() {
  const char* p = skipSpace(cur_, end_);
  bool skipped = p != cur_;
  cur_ = p;
  return skipped;
}

bool JsonScanner::scanCharacter(char c) {
  const char* p = skipSpace(cur_, end_);
  if (p == end_ || *p != c) return false;
  cur_ = p + 1;
  return true;
}

void JsonScanner::skipOptionalComma() {
  cur_ = skipSpace(cur_, end_);
  if (cur_ != end_ && *cur_ == ',') ++cur_;
}

bool JsonScanner::scanJSONValue(Value& value) {
  const char* start = cur_;
  cur_ = skipSpace(cur_, end_);
  if (cur_ == end_) {
    cur_ = start;
    return false;
  }
  bool ok = false;
  switch (*cur_) {
    case '"':
      ok = scanJSONString(value.becomeString());
      break;
    case '{':
      ok = scanJSONObject(value.becomeObject());
      break;
    case '[':
      ok = scanJSONArray(value.becomeArray());
      break;
    case 't':
      if ((ok = scanWord("true"))) value = Value(true);
      break;
    case 'f':
      if ((ok = scanWord("false"))) value = Value(false);
      break;
    case 'n':
      if ((ok = scanWord("null"))) value = Value();
      break;
    default:
      if (isDigit(*cur_) || *cur_ == '-') ok = scanNumberValue(value);
      break;
  }
  if (!ok) cur_ = start;
  return ok;
}

bool JsonScanner::scanJSONObject(Object& object) {
  const char* start = cur_;
  const void* brace = std::memchr(cur_, '{', static_cast<size_t>(end_ - cur_));
  if (brace == nullptr || depth_ >= kMaxDepth) return false;
  ++depth_;
  cur_ = static_cast<const char*>(brace) + 1;
  cur_ = skipSpace(cur_, end_);

  // Members go onto members_ until there are too many for a linear search
  // for repeated keys; then they are handed over to the object, whose own
  // index takes over. An object that already has members takes them directly.
  const size_t base = members_.size();
  bool handedOver = !object.empty();
  members_.emplace_back();
  if (scanJSONString(members_.back().key)) {
    for (;;) {
      if (!scanNameSeparator()) break;
      cur_ = skipSpace(cur_, end_);
      if (cur_ != end_ && (*cur_ == '{' || *cur_ == '[')) {
        // Reading a nested object may grow members_ and move its entries:
        // read it aside.
        Value nested;
        if (!scanJSONValue(nested)) break;
        members_.back().value = std::move(nested);
      } else if (!scanJSONValue(members_.back().value)) {
        break;
      }
      addMember(object, base, handedOver);
      skipOptionalComma();
      members_.emplace_back();
      if (!scanJSONString(members_.back().key)) break;
    }
  }
  members_.pop_back();  // the entry for a key that was not completed
  if (!handedOver) adoptMembers(object, base);
  members_.erase(members_.begin() + static_cast<ptrdiff_t>(base), members_.end());
  --depth_;
  if (!scanEndObject()) {
    cur_ = start;
    return false;
  }
  return true;
}

void JsonScanner::adoptMembers(Object& object, size_t base) {
  const size_t count = members_.size() - base;
  if (count == 0) return;
  if (pool_ == nullptr) {
    pool_ = MemberPool::create();
    pool_->retain(kPoolShare);
  }
  auto* pooled = static_cast<Object::Member*>(pool_->allocate(count * sizeof(Object::Member)));
  for (size_t i = 0; i < count; ++i) new (pooled + i) Object::Member(std::move(members_[base + i]));
  object.adoptPooled(*pool_, pooled, count);
  ++pooledObjects_;
}

void JsonScanner::addMember(Object& object, size_t base, bool& handedOver) {
  Object::Member& added = members_.back();
  if (handedOver) {
    object.set(std::move(added.key), std::move(added.value));
    members_.pop_back();
    return;
  }
  const size_t last = members_.size() - 1;
  for (size_t i = base; i < last; ++i) {
    if (sameKey(members_[i].key, added.key)) {
      members_[i].value = std::move(added.value);  // a repeated key keeps its place
      members_.pop_back();
      return;
    }
  }
  if (last - base < kLinearMembers) return;
  object.reserve(members_.size() - base);
  for (size_t i = base; i < members_.size(); ++i) {
    object.append(std::move(members_[i].key), std::move(members_[i].value));
  }
  members_.erase(members_.begin() + static_cast<ptrdiff_t>(base), members_.end());
  handedOver = true;
}

bool JsonScanner::scanJSONArray(Array& array) {
  if (depth_ >= kMaxDepth) return false;
  const char* start = cur_;
  ++depth_;
  scanBeginArray();  // a missing "[" is allowed
  const size_t base = elements_.size();
  for (;;) {
    Value element;
    if (!scanJSONValue(element)) break;  // may grow elements_ for nested arrays
    elements_.push_back(std::move(element));
    skipOptionalComma();
  }
  --depth_;
  const bool closed = scanEndArray();
  if (closed) {
    auto first = elements_.begin() + static_cast<ptrdiff_t>(base);
    array.reserve(array.size() + static_cast<size_t>(elements_.end() - first));
    array.insert(array.end(), std::make_move_iterator(first), std::make_move_iterator(elements_.end()));
  }
  elements_.erase(elements_.begin() + static_cast<ptrdiff_t>(base), elements_.end());
  if (!closed) cur_ = start;
  return closed;
}

bool JsonScanner::scanJSONString(std::string& string) {
  const char* start = cur_;
  cur_ = skipSpace(cur_, end_);
  if (cur_ == end_ || *cur_ != '"') {
    cur_ = start;
    return false;
  }
  ++cur_;
  const char* p = findQuoteOrBackslash(cur_, end_);
  if (p != end_ && *p == '"') {  // no escapes: the common case
    string.append(cur_, static_cast<size_t>(p - cur_));
    cur_ = p + 1;
    return true;
  }
  return decodeEscapedString(string, p, start);
}

bool JsonScanner::decodeEscapedString(std::string& string, const char* p, const char* start) {
  // One pass: runs between escapes are copied and escapes decoded through a
  // pointer into room made ahead, which grows when a run and the longest
  // decoded escape (4 bytes) would not fit.
  const size_t kept = string.size();
  string.resize(kept + static_cast<size_t>(p - cur_) + 64);
  char* out = string.data();
  char* o = out + kept;
  const char* from = cur_;
  auto fail = [&] {
    string.resize(kept);
    cur_ = start;
    return false;
  };
  for (;;) {
    const size_t run = static_cast<size_t>(p - from);
    const size_t used = static_cast<size_t>(o - out);
    if (used + run + 4 > string.size()) {
      string.resize(std::max(string.size() * 2, used + run + 4));
      out = string.data();
      o = out + used;
    }
    std::memcpy(o, from, run);
    o += run;
    if (p == end_) return fail();  // no closing quote
    if (*p == '"') {
      string.resize(static_cast<size_t>(o - out));
      cur_ = p + 1;
      return true;
    }
    if (end_ - p < 2) return fail();  // a backslash that ends the text
    from = p + 2;
    switch (p[1]) {
      case '"': *o++ = '"'; break;
      case '/': *o++ = '/'; break;
      case '\\': *o++ = '\\'; break;
      case 'b': *o++ = '\b'; break;
      case 'f': *o++ = '\f'; break;
      case 'n': *o++ = '\n'; break;
      case 'r': *o++ = '\r'; break;
      case 't': *o++ = '\t'; break;
      case 'u':
        from = decodeUnicodeEscape(p + 2, o);
        if (from == nullptr) return fail();
        break;
      default:
        // Not an escape: keep the backslash; the character after it is
        // copied with the next run.
        *o++ = '\\';
        from = p + 1;
        break;
    }
    p = findQuoteOrBackslash(from, end_);
  }
}

const char* JsonScanner::decodeUnicodeEscape(const char* p, char*& o) const {
  uint32_t unit;
  if (!readHex4(p, end_, unit)) return nullptr;
  p += 4;
  uint32_t cp = unit;
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    uint32_t low;
    if (end_ - p >= 6 && p[0] == '\\' && p[1] == 'u' && readHex4(p + 2, end_, low) &&
        low >= 0xDC00 && low <= 0xDFFF) {
      cp = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      p += 6;
    } else {
      cp = 0xFFFD;  // high surrogate without its low half
    }
  } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
    cp = 0xFFFD;  // low surrogate on its own
  }
  o = writeUtf8(o, cp);
  return p;
}

bool JsonScanner::scanUnicodeCharacterIntoString(std::string& string) {
  char buf[4];
  char* o = buf;
  const char* next = decodeUnicodeEscape(cur_, o);
  if (next == nullptr) return false;
  string.append(buf, static_cast<size_t>(o - buf));
  cur_ = next;
  return true;
}

bool JsonScanner::scanJSONNumber(Decimal& number) {
  const char* numberEnd = nullptr;
  if (scanNumberText(number, numberEnd) != NumberScan::exact) return false;
  cur_ = numberEnd;
  return true;
}

bool JsonScanner::scanNumberValue(Value& value) {
  Decimal exact;
  const char* numberEnd = nullptr;
  const char* numberBegin = skipSpace(cur_, end_);
  switch (scanNumberText(exact, numberEnd)) {
    case NumberScan::none:
      return false;
    case NumberScan::exact:
      value = Value(exact);
      break;
    case NumberScan::tooLarge: {
      // Beyond what a Decimal holds: the nearest double, and beyond the
      // doubles infinity (1e999 is how JSON text carries it).
      double nearest = 0;
      auto [ptr, ec] = std::from_chars(numberBegin, numberEnd, nearest);
      if (ec == std::errc::result_out_of_range) {
        nearest = *numberBegin == '-' ? -std::numeric_limits<double>::infinity()
                                      : std::numeric_limits<double>::infinity();
      }
      value = Value(nearest);
      break;
    }
  }
  cur_ = numberEnd;
  return true;
}

JsonScanner::NumberScan JsonScanner::scanNumberText(Decimal& number, const char*& numberEnd) {
  const char* p = skipSpace(cur_, end_);
  bool negative = false;
  if (p != end_ && *p == '-') {
    negative = true;
    ++p;
  }
  if (p == end_ || !isDigit(*p)) return NumberScan::none;
  while (p != end_ && *p == '0') ++p;  // leading zeros are not significant
  const char* intDigits = p;
  while (p != end_ && isDigit(*p)) ++p;
  size_t intCount = static_cast<size_t>(p - intDigits);

  const char* fracDigits = p;
  size_t fracCount = 0;
  if (end_ - p >= 2 && *p == '.' && isDigit(p[1])) {
    fracDigits = ++p;
    while (p != end_ && isDigit(*p)) ++p;
    fracCount = static_cast<size_t>(p - fracDigits);
  }

  int64_t exponent = 0;
  if (p != end_ && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    bool expNegative = false;
    if (q != end_ && (*q == '+' || *q == '-')) {
      expNegative = *q == '-';
      ++q;
    }
    if (q != end_ && isDigit(*q)) {
      // Exponents this large already put any number out of range; capping
      // keeps the arithmetic from overflowing.
      constexpr int64_t kCap = 1'000'000'000;
      while (q != end_ && isDigit(*q)) {
        if (exponent < kCap) exponent = exponent * 10 + (*q - '0');
        ++q;
      }
      if (expNegative) exponent = -exponent;
      p = q;
    }
  }

  numberEnd = p;
  // Most numbers are short and have no exponent: their digits fit in 64 bits
  // and the Decimal is made directly, as makeDecimal would make it.
  if (exponent == 0 && intCount + fracCount <= kShortNumberDigits) {
    uint64_t digits = accumulateShort(0, intDigits, intCount);
    digits = accumulateShort(digits, fracDigits, fracCount);
    number = digits == 0 ? Decimal{} : Decimal{digits, -static_cast<int>(fracCount), negative};
    return NumberScan::exact;
  }
  if (!detail::makeDecimal(negative, intDigits, intCount, fracDigits, fracCount, exponent, number)) {
    return NumberScan::tooLarge;
  }
  return NumberScan::exact;
}

}  // namespace tavero::json
