// The values that modules exchange with the page: dictionary, array, string,
// number, boolean or null. Numbers keep the kind they were made with, because
// the text they are written as depends on it (a boolean is "true", a decimal
// read from "1e3" is "1000").
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tavero::json {

// unsigned __int128 under a name that -Wpedantic accepts (the GNU extension
// is marked as such once, here).
__extension__ typedef unsigned __int128 Uint128;

// An exact decimal number: (negative ? -1 : 1) * mantissa * 10^exponent.
// The reader produces these. The mantissa holds at most 38 significant digits;
// the reader keeps the exponent within [-128, 127].
// Aligned to 8 bytes, not the 16 of its 128-bit mantissa, so that a Value
// is 40 bytes instead of 48: documents of many numbers and strings take less
// memory, and reading them touches less.
struct [[gnu::packed, gnu::aligned(8)]] Decimal {
  Uint128 mantissa = 0;
  int exponent = 0;
  bool negative = false;

  double toDouble() const;
  // Saturates to the int64 range; the fraction is cut off (toward zero).
  int64_t toInt64() const;
  // Numeric equality: 10e0 equals 1e1.
  friend bool operator==(const Decimal& a, const Decimal& b);
};

class Value;
using Array = std::vector<Value>;

// A dictionary with string keys that keeps the order in which keys were first
// added. Setting a key that is already present replaces its value in place.
class Object {
 public:
  struct Member;  // {std::string key; Value value;}
  using Members = std::vector<Member>;

  Object();
  Object(const Object&);
  Object(Object&&) noexcept;
  Object& operator=(const Object&);
  Object& operator=(Object&&) noexcept;
  ~Object();

  // Returns the value under `key`, or nullptr.
  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);
  bool contains(std::string_view key) const { return find(key) != nullptr; }

  // Replaces the value under `key`, or appends the pair.
  void set(std::string key, Value value);
  // Appends without looking for an existing key. REQUIRES: `key` is not present.
  void append(std::string key, Value value);
  bool erase(std::string_view key);

  size_t size() const;
  bool empty() const;
  void reserve(size_t n);

  Members::const_iterator begin() const;
  Members::const_iterator end() const;

  friend bool operator==(const Object& a, const Object& b);  // same pairs, same order

 private:
  // The reader gathers members on its own stack and hands them over at once.
  friend class JsonScanner;

  Members members_;
  // Key -> position in members_, built only once an object grows large, so
  // that reading an object with many keys stays linear.
  std::unique_ptr<struct ObjectIndex> index_;
};

class Value {
 public:
  enum class Kind { Null, Boolean, Int32, Int64, Double, Decimal, String, Array, Object };

  Value() = default;  // null
  Value(std::nullptr_t) {}
  Value(bool b) : data_(b) {}
  Value(int i) : data_(int32_t{i}) {}
  Value(long i) : data_(int64_t{i}) {}
  Value(long long i) : data_(int64_t{i}) {}
  Value(double d) : data_(d) {}
  Value(Decimal d) : data_(d) {}
  Value(std::string s) : data_(std::move(s)) {}
  Value(std::string_view s) : data_(std::string(s)) {}
  Value(const char* s) : data_(std::string(s)) {}
  Value(Array a) : data_(std::move(a)) {}
  Value(Object o) : data_(std::move(o)) {}

  Kind kind() const { return static_cast<Kind>(data_.index()); }
  bool isNull() const { return kind() == Kind::Null; }
  bool isBool() const { return kind() == Kind::Boolean; }
  bool isNumber() const;  // Int32, Int64, Double or Decimal (not Boolean)
  bool isString() const { return kind() == Kind::String; }
  bool isArray() const { return kind() == Kind::Array; }
  bool isObject() const { return kind() == Kind::Object; }

  // Typed access. REQUIRES: the value is of that kind.
  bool asBool() const { return std::get<bool>(data_); }
  const std::string& asString() const { return std::get<std::string>(data_); }
  std::string& asString() { return std::get<std::string>(data_); }
  const Array& asArray() const { return std::get<Array>(data_); }
  Array& asArray() { return std::get<Array>(data_); }
  const Object& asObject() const { return std::get<Object>(data_); }
  Object& asObject() { return std::get<Object>(data_); }
  const Decimal& asDecimal() const { return std::get<Decimal>(data_); }

  // Numeric value of any number kind, or of a boolean (1/0); 0 for other kinds.
  double toDouble() const;
  int64_t toInt64() const;

  // Pointer access: nullptr when the value is of another kind.
  const std::string* ifString() const { return std::get_if<std::string>(&data_); }
  const Array* ifArray() const { return std::get_if<Array>(&data_); }
  const Object* ifObject() const { return std::get_if<Object>(&data_); }

  // Same kind and same content (numbers of different kinds are not equal).
  friend bool operator==(const Value& a, const Value& b);

  template <class Visitor>
  decltype(auto) visit(Visitor&& v) const { return std::visit(std::forward<Visitor>(v), data_); }

 private:
  std::variant<std::monostate, bool, int32_t, int64_t, double, Decimal, std::string, Array, Object> data_;
};

struct Object::Member {
  std::string key;
  Value value;
};

}  // namespace tavero::json
