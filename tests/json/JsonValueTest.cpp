#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <type_traits>
#include <variant>

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

TEST(Value, CopiesMovesAndAssignmentsKeepContent) {
  const std::string longText(40, 'x');  // beyond the short-string buffer
  Array parts{Value(1), Value(longText), Value(Array{Value(2.5), Value(Decimal{7, -1, false})})};
  Object object;
  object.append("parts", parts);
  Value original(object);

  Value copy = original;
  copy.asObject().find("parts")->asArray()[1].asString() = "changed";
  EXPECT_EQ(original.asObject().find("parts")->asArray()[1], Value(longText));

  Value moved = std::move(copy);
  EXPECT_EQ(moved.asObject().find("parts")->asArray()[1], Value("changed"));

  // Each kind over each kind, by copy and by move.
  const Value kinds[] = {Value(), Value(true), Value(3), Value(int64_t{1} << 40), Value(0.25),
                         Value(Decimal{15, -1, true}), Value(longText), Value(parts), original};
  for (const Value& from : kinds) {
    for (const Value& to : kinds) {
      Value target = to;
      target = from;
      EXPECT_EQ(target, from);
      Value source = from;
      target = to;
      target = std::move(source);
      EXPECT_EQ(target, from);
    }
  }

  // A value takes over one of its own elements; the element is taken out
  // before the rest is destroyed.
  Value nested(Array{Value(Array{Value(longText), Value(1)}), Value(2)});
  nested = std::move(nested.asArray()[0]);
  EXPECT_EQ(nested, Value(Array{Value(longText), Value(1)}));
  Value holder(object);
  holder = holder.asObject().find("parts")->asArray()[2];
  EXPECT_EQ(holder, Value(Array{Value(2.5), Value(Decimal{7, -1, false})}));
  Value self(longText);
  Value& alias = self;
  self = std::move(alias);
  EXPECT_EQ(self, Value(longText));
}

TEST(Value, AccessOfAnotherKindThrows) {
  Value number(1);
  EXPECT_THROW(number.asString(), std::bad_variant_access);
  EXPECT_THROW(number.asObject(), std::bad_variant_access);
  EXPECT_THROW(Value("x").asBool(), std::bad_variant_access);
  EXPECT_THROW(Value().asDecimal(), std::bad_variant_access);
  EXPECT_EQ(number.ifString(), nullptr);
  EXPECT_EQ(Value(Array{}).ifObject(), nullptr);
  ASSERT_NE(Value(Array{1}).ifArray(), nullptr);

  auto kindName = [](const Value& v) {
    return v.visit([](const auto& content) -> std::string {
      using T = std::decay_t<decltype(content)>;
      if constexpr (std::is_same_v<T, std::monostate>) return "null";
      else if constexpr (std::is_same_v<T, bool>) return "bool";
      else if constexpr (std::is_same_v<T, std::string>) return "string:" + content;
      else if constexpr (std::is_same_v<T, Object>) return "object";
      else return "other";
    });
  };
  EXPECT_EQ(kindName(Value()), "null");
  EXPECT_EQ(kindName(Value(false)), "bool");
  EXPECT_EQ(kindName(Value("s")), "string:s");
  EXPECT_EQ(kindName(Value(Object{})), "object");
  EXPECT_EQ(kindName(Value(1.5)), "other");
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
