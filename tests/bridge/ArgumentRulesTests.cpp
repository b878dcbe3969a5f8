#include <gtest/gtest.h>

#include "bridge/ArgumentRules.h"

namespace tavero::bridge {
namespace {

TEST(ArgumentRules, FlagRuleLooksAtTheFirstSignificantCharacterOnly) {
  for (const char* yes : {"true", "TRUE", "yes", "Y", "1", "  t", "+7", "-1", "007", "tomato", "9lives", " 00y"})
    EXPECT_TRUE(boolValue(yes)) << yes;
  for (const char* no : {"false", "0", "no", "", "   ", "000", "-0", "nope", "xyes"})
    EXPECT_FALSE(boolValue(no)) << no;
}

TEST(ArgumentRules, IntegerRuleReadsLeadingDigitsAndSaturates) {
  EXPECT_EQ(intValue("42"), 42);
  EXPECT_EQ(intValue("  -17abc"), -17);
  EXPECT_EQ(intValue("+5"), 5);
  EXPECT_EQ(intValue("abc"), 0);
  EXPECT_EQ(intValue(""), 0);
  EXPECT_EQ(intValue("1.9"), 1);
  EXPECT_EQ(intValue("99999999999"), INT32_MAX);
  EXPECT_EQ(intValue("-2147483648"), INT32_MIN);
  EXPECT_EQ(intValue("-99999999999"), INT32_MIN);
  EXPECT_EQ(longLongValue("99999999999"), 99999999999LL);
  EXPECT_EQ(longLongValue("99999999999999999999"), INT64_MAX);
  EXPECT_EQ(longLongValue("-9223372036854775808"), INT64_MIN);
}

}  // namespace
}  // namespace tavero::bridge
