// The JSON reader behind JsonCodec: a cursor over UTF-8 text with one scan
// per grammar element. Each scan returns whether it matched; a scan that does
// not match leaves the position where it was, so the caller can try something
// else. Internal to the json library.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "json/JsonValue.h"
#include "json/MemberPool.h"

namespace tavero::json {

class JsonScanner {
 public:
  // Objects and arrays nested deeper than this fail to read, so that hostile
  // text cannot exhaust the stack.
  static constexpr int kMaxDepth = 512;

  explicit JsonScanner(std::string_view text);
  ~JsonScanner();
  JsonScanner(const JsonScanner&) = delete;
  JsonScanner& operator=(const JsonScanner&) = delete;

  size_t position() const { return static_cast<size_t>(cur_ - begin_); }

  // Any value: string, object, array, true, false, null or number (read as an
  // exact Decimal; one too large for that as the nearest double, which is
  // infinity beyond the doubles' range: 1e999 reads as Infinity). Leading
  // white space is skipped. For true/false/null only the word itself is
  // matched; what follows is left for the next scan.
  bool scanJSONValue(Value& value);
  // Skips ahead to the next "{", then reads members up to the closing "}".
  // Commas between members are optional and one trailing comma is allowed; a
  // repeated key keeps its first position and its last value.
  bool scanJSONObject(Object& object);
  // The opening "[" is optional; elements may be separated by "," or just
  // white space, and one trailing comma is allowed. The elements are
  // appended to `array` only when the whole array has been read.
  bool scanJSONArray(Array& array);
  // A quoted string, appended to `string` with its escapes decoded.
  bool scanJSONString(std::string& string);
  // With the position just after "\u": reads the four hex digits (and a
  // following "\uDC00".."\uDFFF" when they are a high surrogate) and appends
  // the character as UTF-8. Unpaired surrogates append U+FFFD.
  bool scanUnicodeCharacterIntoString(std::string& string);
  // "-"? digits ("." digits)? ([eE] [+-]? digits)?, after white space. A "."
  // or exponent marker not followed by a digit is not part of the number.
  // Fails when the number is too large to keep exactly.
  bool scanJSONNumber(Decimal& number);
  // Skips ASCII and Unicode white space and line breaks; true if any.
  bool scanJSONWhiteSpace();

  // Punctuation, each after optional white space.
  bool scanEndObject() { return scanCharacter('}'); }
  bool scanBeginArray() { return scanCharacter('['); }
  bool scanEndArray() { return scanCharacter(']'); }
  bool scanNameSeparator() { return scanCharacter(':'); }

 private:
  enum class NumberScan { none, exact, tooLarge };
  // The number at the position (after white space) into `number`, and where
  // its text ends; the position does not move. tooLarge: the text is a
  // number, but too large for a Decimal.
  NumberScan scanNumberText(Decimal& number, const char*& numberEnd);
  // scanJSONNumber, falling back to a double for numbers too large.
  bool scanNumberValue(Value& value);
  // The rest of a string from `p`, its first backslash (or the end of the
  // text); `start` is where the scan began (restored on failure).
  bool decodeEscapedString(std::string& string, const char* p, const char* start);
  // With p just after "\u": writes the character at o (moving o past it)
  // and returns the end of the escape, or nullptr when it is malformed.
  const char* decodeUnicodeEscape(const char* p, char*& o) const;
  bool scanCharacter(char c);
  // `word` is a literal: its length is known where this is inlined, and the
  // comparison becomes a load or two instead of a call.
  template <size_t N>
  bool scanWord(const char (&word)[N]) {
    constexpr size_t length = N - 1;
    if (static_cast<size_t>(end_ - cur_) < length || __builtin_memcmp(cur_, word, length) != 0) return false;
    cur_ += length;
    return true;
  }
  // Consumes a "," if it is the next character (after white space).
  void skipOptionalComma();
  // Adds a member read into members_.back() (key and value) to the object
  // whose members start at members_[base].
  void addMember(Object& object, size_t base, bool& handedOver);
  // Moves the members gathered from members_[base] into `object`, in memory
  // of the pool.
  void adoptMembers(Object& object, size_t base);

  // Members of the objects being read, innermost last. An object's members
  // are gathered here and then moved into a vector of exactly their size,
  // instead of growing each object's vector one member at a time.
  std::vector<Object::Member> members_;
  // Elements of the arrays being read, innermost last, gathered the same way:
  // each array is then allocated once at its size. Kept per thread between
  // reads (up to a limit), so that reading a long array does not regrow it.
  std::vector<Value> elements_;
  // Where the objects read take their members from; made with the first
  // object, shared by everything this scanner reads. Instead of counting a
  // reference atomically for each object, the scanner takes kPoolShare
  // references when it makes the pool, hands one to each object it makes,
  // and gives back the rest (and its own) when it is done.
  static constexpr size_t kPoolShare = size_t{1} << 62;
  MemberPool* pool_ = nullptr;
  size_t pooledObjects_ = 0;
  const char* begin_;
  const char* cur_;
  const char* end_;
  int depth_ = 0;
};

}  // namespace tavero::json
