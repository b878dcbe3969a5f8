// The values that modules exchange with the page: dictionary, array, string,
// number, boolean or null. Numbers keep the kind they were made with, because
// the text they are written as depends on it (a boolean is "true", a decimal
// read from "1e3" is "1000").
#pragma once

#include <cstdint>
#include <memory>
#include <new>
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

class MemberPool;

// A dictionary with string keys that keeps the order in which keys were first
// added. Setting a key that is already present replaces its value in place.
//
// The members are one contiguous block: on the heap, or, for objects the
// reader makes, in the read document's MemberPool (exactly their size). An
// object in a pool keeps the pool alive; adding a member beyond its size
// moves its members to the heap first.
class Object {
 public:
  struct Member;  // {std::string key; Value value;}
  using const_iterator = const Member*;

  Object() noexcept;
  Object(const Object&);
  Object(Object&& other) noexcept;
  Object& operator=(const Object&);
  Object& operator=(Object&& other) noexcept;
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

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void reserve(size_t n);

  const_iterator begin() const { return members_; }
  const_iterator end() const;

  friend bool operator==(const Object& a, const Object& b);  // same pairs, same order

 private:
  // The reader gathers members on its own stack and hands them over at once.
  friend class JsonScanner;

  // Takes `count` members constructed at `members`, memory of `pool`, and
  // one reference to the pool that the caller has counted for it (the
  // reader counts them for all its objects at once). REQUIRES: the object is
  // empty.
  void adoptPooled(MemberPool& pool, Member* members, size_t count) noexcept;
  // Moves the members to a heap block of room for `capacity` (>= size()).
  void moveToHeap(size_t capacity);
  // Destroys the members and gives their memory back; leaves the object empty.
  void clear() noexcept;
  void rebuildIndexIfLarge(size_t capacity);

  Member* members_ = nullptr;
  uint32_t size_ = 0;
  uint32_t capacity_ = 0;
  // The pool that holds members_, or nullptr when they are on the heap.
  MemberPool* pool_ = nullptr;
  // Key -> position in members_, built only once an object grows large, so
  // that reading an object with many keys stays linear.
  std::unique_ptr<struct ObjectIndex> index_;
};

class Value {
 public:
  enum class Kind : uint8_t { Null, Boolean, Int32, Int64, Double, Decimal, String, Array, Object };

  // The plain kinds zero all their bytes first, so that copying them as one
  // block never reads bytes that were not written.
  Value() noexcept : raw_{} {}  // null
  Value(std::nullptr_t) noexcept : raw_{} {}
  Value(bool b) noexcept : raw_{}, kind_(Kind::Boolean) { boolean_ = b; }
  Value(int i) noexcept : raw_{}, kind_(Kind::Int32) { int32_ = i; }
  Value(long i) noexcept : raw_{}, kind_(Kind::Int64) { int64_ = i; }
  Value(long long i) noexcept : raw_{}, kind_(Kind::Int64) { int64_ = i; }
  Value(double d) noexcept : raw_{}, kind_(Kind::Double) { double_ = d; }
  Value(Decimal d) noexcept : raw_{}, kind_(Kind::Decimal) { new (&decimal_) Decimal(d); }
  Value(std::string s) noexcept : string_(std::move(s)), kind_(Kind::String) {}
  Value(std::string_view s) : string_(s), kind_(Kind::String) {}
  Value(const char* s) : string_(s), kind_(Kind::String) {}
  Value(Array a) noexcept : array_(std::move(a)), kind_(Kind::Array) {}
  Value(Object o) noexcept : object_(std::move(o)), kind_(Kind::Object) {}

  Value(const Value& other) { constructFrom(other); }
  Value(Value&& other) noexcept { constructFrom(std::move(other)); }
  Value& operator=(const Value& other);
  Value& operator=(Value&& other) noexcept {
    if (holdsResources() || other.holdsResources()) return assignResources(std::move(other));
    new (&raw_) Raw(other.raw_);
    kind_ = other.kind_;
    return *this;
  }
  ~Value() {
    if (holdsResources()) destroyResources();
  }

  Kind kind() const { return kind_; }
  bool isNull() const { return kind_ == Kind::Null; }
  bool isBool() const { return kind_ == Kind::Boolean; }
  bool isNumber() const;  // Int32, Int64, Double or Decimal (not Boolean)
  bool isString() const { return kind_ == Kind::String; }
  bool isArray() const { return kind_ == Kind::Array; }
  bool isObject() const { return kind_ == Kind::Object; }

  // Typed access. REQUIRES: the value is of that kind; otherwise throws
  // std::bad_variant_access.
  bool asBool() const { return require(Kind::Boolean), boolean_; }
  const std::string& asString() const { return require(Kind::String), string_; }
  std::string& asString() { return require(Kind::String), string_; }
  const Array& asArray() const { return require(Kind::Array), array_; }
  Array& asArray() { return require(Kind::Array), array_; }
  const Object& asObject() const { return require(Kind::Object), object_; }
  Object& asObject() { return require(Kind::Object), object_; }
  const Decimal& asDecimal() const { return require(Kind::Decimal), decimal_; }

  // Numeric value of any number kind, or of a boolean (1/0); 0 for other kinds.
  double toDouble() const;
  int64_t toInt64() const;

  // Pointer access: nullptr when the value is of another kind.
  const std::string* ifString() const { return kind_ == Kind::String ? &string_ : nullptr; }
  const Array* ifArray() const { return kind_ == Kind::Array ? &array_ : nullptr; }
  const Object* ifObject() const { return kind_ == Kind::Object ? &object_ : nullptr; }

  // Same kind and same content (numbers of different kinds are not equal).
  friend bool operator==(const Value& a, const Value& b);

  // Calls `v` with the content: std::monostate for null, then bool, int32_t,
  // int64_t, double, Decimal, std::string, Array or Object.
  template <class Visitor>
  decltype(auto) visit(Visitor&& v) const;

 private:
  // The reader makes strings, arrays and objects in place.
  friend class JsonScanner;

  // The kinds that own memory; the others are plain bytes.
  bool holdsResources() const { return kind_ >= Kind::String; }
  void require(Kind k) const {
    if (kind_ != k) throwWrongKind();
  }
  [[noreturn]] static void throwWrongKind();
  // Strings, the most common of the kinds with resources, are handled inline.
  void destroyResources() noexcept {
    if (kind_ == Kind::String) {
      string_.~basic_string();
    } else {
      destroyContainer();
    }
  }
  void destroyContainer() noexcept;
  void constructFrom(const Value& other);
  void constructFrom(Value&& other) noexcept {
    kind_ = other.kind_;
    if (!other.holdsResources()) {
      new (&raw_) Raw(other.raw_);
    } else {
      moveResourcesFrom(std::move(other));
    }
  }
  void moveResourcesFrom(Value&& other) noexcept {
    if (other.kind_ == Kind::String) {
      new (&string_) std::string(std::move(other.string_));
    } else {
      moveContainerFrom(std::move(other));
    }
  }
  void moveContainerFrom(Value&& other) noexcept;
  Value& assignResources(Value&& other) noexcept;

  // Make this value an empty string, array or object and return it; for the
  // reader, which then fills it in place.
  std::string& becomeString() { return become<std::string, Kind::String>(string_); }
  Array& becomeArray() { return become<Array, Kind::Array>(array_); }
  Object& becomeObject() { return become<Object, Kind::Object>(object_); }
  template <class T, Kind K>
  T& become(T& member) {
    if (holdsResources()) destroyResources();
    new (&member) T();
    kind_ = K;
    return member;
  }

  // The bytes of the plain kinds (the largest is Decimal), copied as one.
  struct Raw {
    uint64_t words[3];
  };
  static_assert(sizeof(Decimal) <= sizeof(Raw));

  union {
    Raw raw_;
    bool boolean_;
    int32_t int32_;
    int64_t int64_;
    double double_;
    Decimal decimal_;
    std::string string_;
    Array array_;
    Object object_;
  };
  Kind kind_ = Kind::Null;
};

template <class Visitor>
decltype(auto) Value::visit(Visitor&& v) const {
  switch (kind_) {
    case Kind::Boolean: return v(boolean_);
    case Kind::Int32: return v(int32_);
    case Kind::Int64: return v(int64_);
    case Kind::Double: return v(double_);
    case Kind::Decimal: return v(decimal_);
    case Kind::String: return v(string_);
    case Kind::Array: return v(array_);
    case Kind::Object: return v(object_);
    case Kind::Null: break;
  }
  return v(std::monostate{});
}

struct Object::Member {
  std::string key;
  Value value;
};

inline Object::const_iterator Object::end() const { return members_ + size_; }

}  // namespace tavero::json
