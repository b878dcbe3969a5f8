#include "json/JsonCodec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <new>

#include "json/Hex.h"
#include "json/JsonScanner.h"
#include "json/NumberText.h"

namespace tavero::json {

namespace {

// For each byte, the letter written after a backslash, or 0 when the byte is
// written as is. 'u' marks the control characters without a short escape:
// they are written "\u00XX", since JSON text may not hold them raw.
constexpr std::array<char, 256> makeEscapeTable() {
  std::array<char, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[static_cast<size_t>(c)] = 'u';
  t['\b'] = 'b';
  t['\t'] = 't';
  t['\n'] = 'n';
  t['\f'] = 'f';
  t['\r'] = 'r';
  t['"'] = '"';
  t['/'] = '/';
  t['\\'] = '\\';
  return t;
}
constexpr std::array<char, 256> kEscape = makeEscapeTable();

// The 8-byte scans find the first flagged byte with a count of trailing
// zeros, which is the first byte in memory only on little-endian machines.
static_assert(std::endian::native == std::endian::little);

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

// Nonzero when some byte of `w` is a control character (below 0x20) or one
// of '"', '/', '\\'. The lowest flagged byte is always a real match; bytes
// above it may be false alarms, which the caller re-checks with kEscape anyway.
inline uint64_t escapeCandidates(uint64_t w) {
  auto zeroBytes = [](uint64_t v) { return (v - kOnes) & ~v & kHighs; };
  uint64_t below = (w - kOnes * 0x20) & ~w & kHighs;
  return below | zeroBytes(w ^ (kOnes * '"')) | zeroBytes(w ^ (kOnes * '/')) |
         zeroBytes(w ^ (kOnes * '\\'));
}

// The writer's output buffer. Every piece of text first makes room for its
// longest possible form, then is written with plain pointer stores, so that
// the per-character work has no capacity checks. The text is copied into the
// caller's string once at the end.
//
// The buffer is kept per thread between writes (up to kKeptCapacity), so a
// thread that writes messages of similar size does not grow a new buffer
// each time.
class Sink {
 public:
  Sink() {
    if (Spare& spare = spare_; spare.data != nullptr) {
      begin_ = cur_ = spare.data;
      end_ = spare.data + spare.capacity;
      spare.data = nullptr;  // a nested Sink gets a buffer of its own
    }
  }
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;
  ~Sink() {
    size_t capacity = static_cast<size_t>(end_ - begin_);
    if (spare_.data == nullptr && capacity <= kKeptCapacity) {
      spare_.data = begin_;
      spare_.capacity = capacity;
    } else {
      std::free(begin_);
    }
  }

  // Room for n more chars at the write position, which is returned.
  char* room(size_t n) {
    if (static_cast<size_t>(end_ - cur_) < n) grow(n);
    return cur_;
  }
  void advance(char* to) { cur_ = to; }

  void put(char c) { *room(1) = c, ++cur_; }
  void write(const char* text, size_t n) {
    std::memcpy(room(n), text, n);
    cur_ += n;
  }
  template <size_t N>
  void write(const char (&literal)[N]) {
    write(literal, N - 1);
  }

  void appendTo(std::string& out) const {
    if (cur_ != begin_) out.append(begin_, static_cast<size_t>(cur_ - begin_));
  }
  std::string take() const {
    return cur_ == begin_ ? std::string() : std::string(begin_, static_cast<size_t>(cur_ - begin_));
  }

 private:
  void grow(size_t n) {
    size_t used = static_cast<size_t>(cur_ - begin_);
    size_t capacity = std::max<size_t>({256, (end_ - begin_) * size_t{2}, used + n});
    char* p = static_cast<char*>(std::realloc(begin_, capacity));
    if (p == nullptr) throw std::bad_alloc();
    begin_ = p;
    cur_ = p + used;
    end_ = p + capacity;
  }

  static constexpr size_t kKeptCapacity = size_t{4} << 20;
  struct Spare {
    char* data = nullptr;
    size_t capacity = 0;
    ~Spare() { std::free(data); }
  };
  static thread_local Spare spare_;

  char* begin_ = nullptr;
  char* cur_ = nullptr;
  char* end_ = nullptr;
};

thread_local Sink::Spare Sink::spare_;

// Writes the escape for `c` (kEscape[c] is `e`, not 0) at o; returns the end.
inline char* writeEscape(char* o, unsigned char c, char e) {
  o[0] = '\\';
  o[1] = e;
  if (e != 'u') return o + 2;
  o[2] = '0';
  o[3] = '0';
  o[4] = hexDigit(c >> 4);
  o[5] = hexDigit(c & 15);
  return o + 6;
}

// Room for every byte of `rest` written as a six-character escape, plus the
// closing quote and slack for the 8-byte stores; only text with control
// characters asks for it.
char* roomForEscapes(Sink& out, char* o, size_t rest) {
  out.advance(o);
  return out.room(rest * 6 + 1 + 8);
}

void writeQuoted(Sink& out, std::string_view text) {
  // Room for every byte written with a two-character escape, plus the
  // quotes, plus slack for the 8-byte stores below. Six-character escapes
  // ask for more when they come.
  char* o = out.room(text.size() * 2 + 2 + 8);
  bool sixCharacterRoom = false;
  *o++ = '"';
  const char* p = text.data();
  const char* end = p + text.size();
  auto escape = [&](char e) {
    if (e == 'u' && !sixCharacterRoom) {
      o = roomForEscapes(out, o, static_cast<size_t>(end - p));
      sixCharacterRoom = true;
    }
    o = writeEscape(o, static_cast<unsigned char>(*p), e);
  };
  // Copy 8 bytes at a time, stopping only at bytes that may need escaping.
  while (end - p >= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    std::memcpy(o, &w, 8);
    uint64_t m = escapeCandidates(w);
    if (m == 0) {
      p += 8;
      o += 8;
      continue;
    }
    size_t i = static_cast<size_t>(__builtin_ctzll(m)) >> 3;
    p += i;
    o += i;
    char e = kEscape[static_cast<unsigned char>(*p)];
    if (e != 0) {
      escape(e);
    } else {
      ++o;  // a false alarm: the byte is written as is (already stored)
    }
    ++p;
  }
  for (; p < end; ++p) {
    char e = kEscape[static_cast<unsigned char>(*p)];
    if (e != 0) {
      escape(e);
    } else {
      *o++ = *p;
    }
  }
  *o++ = '"';
  out.advance(o);
}

void writeIndent(Sink& out, int level) {
  if (level == JsonCodec::jsonDoNotIndent) return;
  static constexpr char kLineAndTabs[] =
      "\n\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
  constexpr int kTabs = sizeof kLineAndTabs - 2;
  if (level <= 0) {
    out.put('\n');
  } else if (level < 16) {
    // A fixed-size copy is cheaper than one of the exact length.
    char* o = out.room(16);
    std::memcpy(o, kLineAndTabs, 16);
    out.advance(o + 1 + level);
  } else if (level <= kTabs) {
    out.write(kLineAndTabs, static_cast<size_t>(level) + 1);
  } else {
    char* o = out.room(static_cast<size_t>(level) + 1);
    *o = '\n';
    std::memset(o + 1, '\t', static_cast<size_t>(level));
    out.advance(o + 1 + level);
  }
}

void writeArray(Sink& out, const Array& array, int level);
void writeObject(Sink& out, const Object& object, int level);

template <class Integer>
void writeInteger(Sink& out, Integer v) {
  char* o = out.room(20);
  out.advance(std::to_chars(o, o + 20, v).ptr);
}

void writeValue(Sink& out, const Value& value, int level) {
  // A switch on the kind rather than Value::visit: the writer is the hottest
  // user of values and this keeps every case inline here.
  switch (value.kind()) {
    case Value::Kind::String: writeQuoted(out, *value.ifString()); break;
    case Value::Kind::Object: writeObject(out, *value.ifObject(), level + 1); break;
    case Value::Kind::Array: writeArray(out, *value.ifArray(), level); break;
    case Value::Kind::Null: out.write("null"); break;
    case Value::Kind::Boolean:
      if (value.asBool()) {
        out.write("true");
      } else {
        out.write("false");
      }
      break;
    case Value::Kind::Int32:
    case Value::Kind::Int64: writeInteger(out, value.toInt64()); break;
    case Value::Kind::Double:
      out.advance(detail::writeDoubleText(out.room(detail::kMaxDoubleTextLength), value.toDouble()));
      break;
    case Value::Kind::Decimal: {
      const Decimal& d = value.asDecimal();
      out.advance(detail::writeDecimalText(out.room(detail::maxDecimalTextLength(d)), d));
      break;
    }
  }
}

void writeArray(Sink& out, const Array& array, int level) {
  out.put('[');
  bool first = true;
  for (const Value& v : array) {
    if (!first) out.write(", ");
    first = false;
    writeValue(out, v, level);
  }
  out.put(']');
}

void writeObject(Sink& out, const Object& object, int level) {
  out.put('{');
  bool first = true;
  for (const Object::Member& m : object) {
    if (!first) out.put(',');
    first = false;
    writeIndent(out, level);
    out.put(' ');
    writeQuoted(out, m.key);
    out.write(" : ");
    writeValue(out, m.value, level);
  }
  out.put('}');
}

}  // namespace

std::string JsonCodec::jsonStringForValue(const Value& value, int level) {
  Sink out;
  writeValue(out, value, level);
  return out.take();
}

void JsonCodec::appendJsonStringForValue(std::string& out, const Value& value, int level) {
  Sink sink;
  writeValue(sink, value, level);
  sink.appendTo(out);
}

std::string JsonCodec::jsonStringValue(std::string_view text) {
  Sink out;
  writeQuoted(out, text);
  return out.take();
}

std::string JsonCodec::jsonStringValueWithIndentLevel(const Array& array, int level) {
  Sink out;
  writeArray(out, array, level);
  return out.take();
}

std::string JsonCodec::jsonStringValueWithIndentLevel(const Object& object, int level) {
  Sink out;
  writeObject(out, object, level);
  return out.take();
}

std::string JsonCodec::jsonIndentStringForLevel(int level) {
  Sink out;
  writeIndent(out, level);
  return out.take();
}

std::optional<Array> JsonCodec::arrayWithJSONString(std::string_view text) {
  JsonScanner scanner(text);
  Array array;
  if (!scanner.scanJSONArray(array)) return std::nullopt;
  return array;
}

std::optional<Object> JsonCodec::dictionaryWithJSONString(std::string_view text) {
  JsonScanner scanner(text);
  Object object;
  if (!scanner.scanJSONObject(object)) return std::nullopt;
  return object;
}

}  // namespace tavero::json
