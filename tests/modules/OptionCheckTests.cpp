#include <gtest/gtest.h>

#include "modules/OptionCheck.h"

namespace tavero::modules {
namespace {

bridge::Invocation invocationWith(std::initializer_list<std::pair<const char*, const char*>> keys) {
  auto arguments = std::make_shared<json::Object>();
  for (auto [key, value] : keys) arguments->append(key, json::Value(value));
  return bridge::Invocation(std::move(arguments));
}

TEST(OptionCheck, ReadsOnlyWholeIntegersWithBlanksAroundThem) {
  EXPECT_EQ(OptionCheck::wholeInteger("42"), 42);
  EXPECT_EQ(OptionCheck::wholeInteger(" -7\t"), -7);
  EXPECT_EQ(OptionCheck::wholeInteger("+5"), 5);
  for (const char* text : {"", " ", "1.5", "1e3", "0x10", "12abc", "abc", "--1", "+-1", "99999999999999999999"})
    EXPECT_FALSE(OptionCheck::wholeInteger(text)) << text;
}

// Absent and empty options take the fallback; the first refusal is the one
// the page hears, and later checks still give their fallbacks.
TEST(OptionCheck, KeepsTheFirstRefusalAndGivesFallbacksForAbsentEmptyOrRefusedOptions) {
  auto call = invocationWith({{"a", "3"}, {"b", ""}, {"c", "9"}, {"d", "\x01junk that goes on and on and on and on and on"}});
  OptionCheck check(call, "test");
  EXPECT_EQ(check.integer("a", 0, 0, 5, "0 to 5"), 3);
  EXPECT_EQ(check.integer("b", 4, 0, 5, "0 to 5"), 4);
  EXPECT_EQ(check.integer("missing", 2, 0, 5, "0 to 5"), 2);
  EXPECT_FALSE(check.refused());
  EXPECT_EQ(check.integer("c", 1, 0, 5, "0 to 5"), 1);
  EXPECT_EQ(check.integer("d", 1, 0, 5, "0 to 5"), 1);
  ASSERT_TRUE(check.refused());
  EXPECT_EQ(*check.refusal(), "Refused: c must be 0 to 5, not \"9\"");

  OptionCheck other(call, "test");
  other.integer("d", 1, 0, 5, "0 to 5");
  // The page's text is cut short and its control characters do not reach the message.
  EXPECT_EQ(*other.refusal(), "Refused: d must be 0 to 5, not \"?junk that goes on and on and on and on ...\"");
}

}  // namespace
}  // namespace tavero::modules
