#include "base/AsciiText.h"

#include <gtest/gtest.h>

#include <string>

namespace tavero::base {
namespace {

TEST(AsciiTextTest, OnlyAsciiLettersChangeCase) {
  // The letters next to A-Z and a-z in the table ("@", "[", "`", "{") and
  // UTF-8 bytes (which std::tolower may change in a Latin-1 locale) stay.
  EXPECT_EQ(asciiLowercased("AZaz@[`{09+-.\xC3\x84-\xC3\xA4"), "azaz@[`{09+-.\xC3\x84-\xC3\xA4");
  EXPECT_EQ(asciiUpper('a'), 'A');
  EXPECT_EQ(asciiUpper('z'), 'Z');
  EXPECT_EQ(asciiUpper('{'), '{');
  EXPECT_EQ(asciiLower('@'), '@');
}

TEST(AsciiTextTest, ComparesIgnoringOnlyAsciiCase) {
  EXPECT_TRUE(equalsIgnoringAsciiCase("LocalHost", "localhost"));
  EXPECT_FALSE(equalsIgnoringAsciiCase("localhost", "localhost."));
  EXPECT_FALSE(equalsIgnoringAsciiCase("@", "`"));  // 0x40 and 0x60 differ by the case bit only
  EXPECT_FALSE(equalsIgnoringAsciiCase("\xC3\x84", "\xC3\xA4"));
  EXPECT_TRUE(equalsIgnoringAsciiCase("", ""));

  EXPECT_TRUE(startsWithIgnoringAsciiCase("SELECT 1", "select"));
  EXPECT_TRUE(startsWithIgnoringAsciiCase("File:///x", "file:"));
  EXPECT_FALSE(startsWithIgnoringAsciiCase("fil", "file:"));
  EXPECT_TRUE(startsWithIgnoringAsciiCase("anything", ""));
}

}  // namespace
}  // namespace tavero::base
