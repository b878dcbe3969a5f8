#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "json/JsonValue.h"

namespace tavero::json {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

TEST(Decimal, Conversions) {
  EXPECT_EQ((Decimal{25, -2, true}).toDouble(), -0.25);
  EXPECT_EQ((Decimal{1, 127, false}).toDouble(), 1e127);
  EXPECT_EQ((Decimal{1, 400, false}).toDouble(), std::numeric_limits<double>::infinity());
  EXPECT_EQ((Decimal{1, -400, false}).toDouble(), 0.0);
  EXPECT_EQ((Decimal{29, -1, true}).toInt64(), -2);
  EXPECT_EQ((Decimal{123, 2, false}).toInt64(), 12300);
  EXPECT_EQ((Decimal{1, -39, false}).toInt64(), 0);
  EXPECT_EQ((Decimal{static_cast<Uint128>(kMax), 0, false}).toInt64(), kMax);
  EXPECT_EQ((Decimal{static_cast<Uint128>(kMax) + 1, 0, true}).toInt64(), kMin);
  EXPECT_EQ((Decimal{static_cast<Uint128>(kMax) + 1, 0, false}).toInt64(), kMax);
  EXPECT_EQ((Decimal{1, 30, false}).toInt64(), kMax);
  EXPECT_EQ((Decimal{1, 127, true}).toInt64(), kMin);
}

TEST(Decimal, EqualityIsNumeric) {
  EXPECT_EQ((Decimal{10, 0, false}), (Decimal{1, 1, false}));
  EXPECT_EQ((Decimal{1500, -3, true}), (Decimal{15, -1, true}));
  EXPECT_EQ((Decimal{0, 5, true}), (Decimal{0, 0, false}));
  EXPECT_NE((Decimal{1, 0, true}), (Decimal{1, 0, false}));
  EXPECT_NE((Decimal{1, 0, false}), (Decimal{1, 1, false}));
}

TEST(Value, NumbersKeepTheirKind) {
  EXPECT_EQ(Value(1).kind(), Value::Kind::Int32);
  EXPECT_EQ(Value(1L).kind(), Value::Kind::Int64);
  EXPECT_NE(Value(1), Value(1L));
  EXPECT_NE(Value(1), Value(1.0));
  EXPECT_NE(Value(true), Value(1));
  EXPECT_FALSE(Value(true).isNumber());
  EXPECT_TRUE(Value(Decimal{}).isNumber());
  EXPECT_EQ(Value(Decimal{10, 0, false}), Value(Decimal{1, 1, false}));

  EXPECT_EQ(Value(true).toInt64(), 1);
  EXPECT_EQ(Value(true).toDouble(), 1.0);
  EXPECT_EQ(Value("7").toInt64(), 0);
  EXPECT_EQ(Value(-2.9).toInt64(), -2);
  EXPECT_EQ(Value(1e19).toInt64(), kMax);
  EXPECT_EQ(Value(-1e19).toInt64(), kMin);
  EXPECT_EQ(Value(std::nan("")).toInt64(), 0);
  EXPECT_EQ(Value(Decimal{5, -1, false}).toDouble(), 0.5);
  EXPECT_EQ(Value(kMin).toDouble(), -9223372036854775808.0);
}

// Objects past a handful of keys switch to a hash index; both forms must
// keep insertion order and replace values in place.
TEST(Object, KeepsOrderAndReplacesInPlace) {
  for (int count : {3, 40}) {
    Object o;
    for (int i = 0; i < count; ++i) o.set("k" + std::to_string(i), i);
    o.set("k1", "again");
    ASSERT_EQ(o.size(), static_cast<size_t>(count));
    EXPECT_EQ(std::next(o.begin())->key, "k1");
    EXPECT_EQ(*o.find("k1"), Value("again"));

    EXPECT_TRUE(o.erase("k0"));
    EXPECT_FALSE(o.erase("k0"));
    EXPECT_EQ(o.find("k0"), nullptr);
    EXPECT_EQ(o.begin()->key, "k1");
    for (int i = 2; i < count; ++i) EXPECT_EQ(*o.find("k" + std::to_string(i)), Value(i)) << i;

    Object copy = o;
    copy.set("new", nullptr);
    *copy.find("k2") = false;
    EXPECT_FALSE(o.contains("new"));
    EXPECT_EQ(*o.find("k2"), Value(2));
    EXPECT_TRUE(copy.contains("new"));
    EXPECT_NE(copy, o);
    copy.erase("new");
    copy.set("k2", 2);
    EXPECT_EQ(copy, o);
  }

  Object reserved;
  reserved.reserve(100);
  for (int i = 0; i < 100; ++i) reserved.append(std::to_string(i), i);
  EXPECT_EQ(*reserved.find("99"), Value(99));
  EXPECT_EQ(reserved.find("100"), nullptr);
}

}  // namespace
}  // namespace tavero::json
