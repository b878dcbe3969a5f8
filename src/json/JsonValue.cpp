#include "json/JsonValue.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <variant>

#include "json/MemberPool.h"
#include "json/NumberText.h"

namespace tavero::json {

// ---------------------------------------------------------------------------
// Decimal

double Decimal::toDouble() const {
  if (mantissa == 0) return 0.0;
  // The digit text parsed by from_chars gives the correctly rounded double.
  char buf[64];
  size_t n = detail::writeU128Digits(buf, mantissa);
  buf[n++] = 'e';
  n = static_cast<size_t>(std::to_chars(buf + n, buf + sizeof buf, exponent).ptr - buf);
  double d = 0;
  auto [ptr, ec] = std::from_chars(buf, buf + n, d);
  if (ec == std::errc::result_out_of_range) {
    // from_chars leaves `d` alone on overflow and underflow.
    d = exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return negative ? -d : d;
}

int64_t Decimal::toInt64() const {
  constexpr Uint128 kNegLimit = static_cast<Uint128>(1) << 63;  // |INT64_MIN|
  Uint128 magnitude = mantissa;
  if (exponent > 0) {
    for (int i = 0; i < exponent && magnitude != 0; ++i) {
      if (magnitude > kNegLimit) break;  // already past both limits
      magnitude *= 10;
    }
  } else if (exponent < 0) {
    // A mantissa below 2^128 has at most 39 digits.
    magnitude = exponent < -detail::kDecimalMaxDigits ? 0 : magnitude / detail::pow10u128(-exponent);
  }
  if (negative) {
    if (magnitude >= kNegLimit) return std::numeric_limits<int64_t>::min();
    return -static_cast<int64_t>(magnitude);
  }
  if (magnitude >= kNegLimit) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(magnitude);
}

bool operator==(const Decimal& a, const Decimal& b) {
  if (a.mantissa == 0 || b.mantissa == 0) return a.mantissa == b.mantissa;
  if (a.negative != b.negative) return false;
  auto strip = [](Uint128& m, int64_t& e) {
    while (m % 10 == 0) {
      m /= 10;
      ++e;
    }
  };
  Uint128 am = a.mantissa, bm = b.mantissa;
  int64_t ae = a.exponent, be = b.exponent;
  strip(am, ae);
  strip(bm, be);
  return am == bm && ae == be;
}

// ---------------------------------------------------------------------------
// Object

// Open-addressing table from key to position in the members. Each slot holds
// the position + 1 (0 = empty) and 32 bits of the key's hash, so that most
// probes are decided without comparing keys and rehashing needs no key access.
struct ObjectIndex {
  struct Slot {
    uint32_t position1 = 0;
    uint32_t hash = 0;
  };
  std::vector<Slot> slots;  // size is a power of two, at most half full

  static uint32_t hashOf(std::string_view key) {
    return static_cast<uint32_t>(std::hash<std::string_view>{}(key));
  }

  void insert(uint32_t hash, size_t position) {
    size_t mask = slots.size() - 1;
    size_t i = hash & mask;
    while (slots[i].position1 != 0) i = (i + 1) & mask;
    slots[i] = {static_cast<uint32_t>(position + 1), hash};
  }

  void rebuild(const Object::Member* members, size_t count, size_t capacity) {
    size_t n = 16;
    while (n < capacity * 2) n *= 2;
    slots.assign(n, Slot{});
    for (size_t i = 0; i < count; ++i) insert(hashOf(members[i].key), i);
  }

  // Position of `key`, or -1.
  ptrdiff_t find(const Object::Member* members, std::string_view key, uint32_t hash) const {
    size_t mask = slots.size() - 1;
    for (size_t i = hash & mask; slots[i].position1 != 0; i = (i + 1) & mask) {
      if (slots[i].hash == hash && members[slots[i].position1 - 1].key == key) {
        return static_cast<ptrdiff_t>(slots[i].position1 - 1);
      }
    }
    return -1;
  }
};

namespace {
// Objects this small are searched linearly; the bridge's objects almost all
// are, and a scan over a few short keys beats hashing.
constexpr size_t kIndexThreshold = 16;

Object::Member* allocateMembers(size_t capacity) {
  if (capacity > std::numeric_limits<uint32_t>::max()) throw std::length_error("Object: too many members");
  return static_cast<Object::Member*>(::operator new(capacity * sizeof(Object::Member)));
}
}  // namespace

Object::Object() noexcept = default;

Object::Object(const Object& other) {
  if (other.size_ == 0) return;
  members_ = allocateMembers(other.size_);
  capacity_ = other.size_;
  for (const Member& m : other) {
    new (members_ + size_) Member(m);  // size_ counts what the destructor must undo
    ++size_;
  }
  if (other.index_) index_ = std::make_unique<ObjectIndex>(*other.index_);
}

Object::Object(Object&& other) noexcept
    : members_(std::exchange(other.members_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      pool_(std::exchange(other.pool_, nullptr)),
      index_(std::move(other.index_)) {}

Object& Object::operator=(const Object& other) {
  if (this != &other) {
    Object copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Object& Object::operator=(Object&& other) noexcept {
  if (this != &other) {
    // `other` may be a member's value inside this object: take it out first.
    Object taken(std::move(other));
    clear();
    members_ = std::exchange(taken.members_, nullptr);
    size_ = std::exchange(taken.size_, 0);
    capacity_ = std::exchange(taken.capacity_, 0);
    pool_ = std::exchange(taken.pool_, nullptr);
    index_ = std::move(taken.index_);
  }
  return *this;
}

Object::~Object() { clear(); }

void Object::clear() noexcept {
  for (uint32_t i = 0; i < size_; ++i) members_[i].~Member();
  if (pool_ != nullptr) {
    pool_->release();
  } else {
    ::operator delete(members_);
  }
  members_ = nullptr;
  size_ = capacity_ = 0;
  pool_ = nullptr;
  index_.reset();
}

void Object::adoptPooled(MemberPool& pool, Member* members, size_t count) noexcept {
  members_ = members;
  size_ = static_cast<uint32_t>(count);
  capacity_ = static_cast<uint32_t>(count);
  pool_ = &pool;
}

void Object::moveToHeap(size_t capacity) {
  Member* moved = allocateMembers(capacity);
  for (uint32_t i = 0; i < size_; ++i) {
    new (moved + i) Member(std::move(members_[i]));  // noexcept: std::string and Value move
    members_[i].~Member();
  }
  if (pool_ != nullptr) {
    pool_->release();
    pool_ = nullptr;
  } else {
    ::operator delete(members_);
  }
  members_ = moved;
  capacity_ = static_cast<uint32_t>(capacity);
}

void Object::rebuildIndexIfLarge(size_t capacity) {
  if (capacity < kIndexThreshold) return;
  if (!index_) index_ = std::make_unique<ObjectIndex>();
  if (index_->slots.size() < capacity * 2) index_->rebuild(members_, size_, capacity);
}

const Value* Object::find(std::string_view key) const {
  if (index_) {
    ptrdiff_t i = index_->find(members_, key, ObjectIndex::hashOf(key));
    return i < 0 ? nullptr : &members_[static_cast<size_t>(i)].value;
  }
  for (const Member& m : *this) {
    if (m.key.size() == key.size() && std::memcmp(m.key.data(), key.data(), key.size()) == 0) {
      return &m.value;
    }
  }
  return nullptr;
}

Value* Object::find(std::string_view key) {
  return const_cast<Value*>(static_cast<const Object*>(this)->find(key));
}

void Object::set(std::string key, Value value) {
  if (Value* existing = find(key)) {
    *existing = std::move(value);
    return;
  }
  append(std::move(key), std::move(value));
}

void Object::append(std::string key, Value value) {
  if (size_ == capacity_) moveToHeap(capacity_ == 0 ? 1 : size_t{capacity_} * 2);  // as std::vector grows
  new (members_ + size_) Member{std::move(key), std::move(value)};
  ++size_;
  if (index_) {
    if (size_t{size_} * 2 > index_->slots.size()) {
      index_->rebuild(members_, size_, size_);
    } else {
      index_->insert(ObjectIndex::hashOf(members_[size_ - 1].key), size_ - 1);
    }
  } else if (size_ >= kIndexThreshold) {
    rebuildIndexIfLarge(size_);
  }
}

bool Object::erase(std::string_view key) {
  const Value* v = find(key);
  if (!v) return false;
  // Value is the second field of Member; recover the member's position.
  size_t at = 0;
  while (&members_[at].value != v) ++at;
  for (size_t i = at + 1; i < size_; ++i) members_[i - 1] = std::move(members_[i]);
  members_[--size_].~Member();
  // Positions after the erased one shifted; erasing is rare, so rebuild.
  if (size_ >= kIndexThreshold) {
    if (!index_) index_ = std::make_unique<ObjectIndex>();
    index_->rebuild(members_, size_, size_);
  } else {
    index_.reset();
  }
  return true;
}

void Object::reserve(size_t n) {
  if (n > capacity_) moveToHeap(n);
  rebuildIndexIfLarge(n);
}

bool operator==(const Object& a, const Object& b) {
  if (a.size_ != b.size_) return false;
  for (size_t i = 0; i < a.size_; ++i) {
    if (a.members_[i].key != b.members_[i].key || !(a.members_[i].value == b.members_[i].value)) {
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Value

void Value::throwWrongKind() { throw std::bad_variant_access(); }

void Value::destroyContainer() noexcept {
  if (kind_ == Kind::Array) {
    array_.~Array();
  } else if (kind_ == Kind::Object) {
    object_.~Object();
  }
}

void Value::constructFrom(const Value& other) {
  switch (other.kind_) {
    case Kind::String: new (&string_) std::string(other.string_); break;
    case Kind::Array: new (&array_) Array(other.array_); break;
    case Kind::Object: new (&object_) Object(other.object_); break;
    default: new (&raw_) Raw(other.raw_); break;
  }
  kind_ = other.kind_;  // after the copy, which may throw
}

void Value::moveContainerFrom(Value&& other) noexcept {
  if (other.kind_ == Kind::Array) {
    new (&array_) Array(std::move(other.array_));
  } else if (other.kind_ == Kind::Object) {
    new (&object_) Object(std::move(other.object_));
  }
}

Value& Value::operator=(const Value& other) {
  if (this != &other) {
    Value copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Value& Value::assignResources(Value&& other) noexcept {
  if (this == &other) return *this;
  if (!holdsResources()) {  // nothing here to destroy, so `other` is not inside
    constructFrom(std::move(other));
    return *this;
  }
  // `other` may live inside this value (an element of its array): take it
  // out before this value's content is destroyed.
  Value taken(std::move(other));
  destroyResources();
  constructFrom(std::move(taken));
  return *this;
}

bool Value::isNumber() const {
  Kind k = kind();
  return k == Kind::Int32 || k == Kind::Int64 || k == Kind::Double || k == Kind::Decimal;
}

double Value::toDouble() const {
  switch (kind()) {
    case Kind::Boolean: return boolean_ ? 1.0 : 0.0;
    case Kind::Int32: return int32_;
    case Kind::Int64: return static_cast<double>(int64_);
    case Kind::Double: return double_;
    case Kind::Decimal: return decimal_.toDouble();
    default: return 0.0;
  }
}

int64_t Value::toInt64() const {
  switch (kind()) {
    case Kind::Boolean: return boolean_ ? 1 : 0;
    case Kind::Int32: return int32_;
    case Kind::Int64: return int64_;
    case Kind::Double: {
      double d = double_;
      if (std::isnan(d)) return 0;
      // 2^63 is exactly representable; anything at or beyond it saturates.
      if (d >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
      if (d <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
      return static_cast<int64_t>(d);
    }
    case Kind::Decimal: return decimal_.toInt64();
    default: return 0;
  }
}

bool operator==(const Value& a, const Value& b) {
  if (a.kind_ != b.kind_) return false;
  switch (a.kind_) {
    case Value::Kind::Null: return true;
    case Value::Kind::Boolean: return a.boolean_ == b.boolean_;
    case Value::Kind::Int32: return a.int32_ == b.int32_;
    case Value::Kind::Int64: return a.int64_ == b.int64_;
    case Value::Kind::Double: return a.double_ == b.double_;
    case Value::Kind::Decimal: return a.decimal_ == b.decimal_;
    case Value::Kind::String: return a.string_ == b.string_;
    case Value::Kind::Array: return a.array_ == b.array_;
    case Value::Kind::Object: return a.object_ == b.object_;
  }
  return false;
}

}  // namespace tavero::json
