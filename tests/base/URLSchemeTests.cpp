#include "base/URLScheme.h"

#include <gtest/gtest.h>

namespace tavero::base {
namespace {

TEST(URLSchemeTest, FindsTheSchemeBeforeTheFirstColon) {
  EXPECT_EQ(urlSchemeOf("MyApp+x.y-z://a:b"), "MyApp+x.y-z");
  EXPECT_EQ(urlSchemeOf("mailto:a@b"), "mailto");
  EXPECT_EQ(urlSchemeOf("://a"), "");
  EXPECT_EQ(urlSchemeOf("1http://a"), "");
  EXPECT_EQ(urlSchemeOf("a b://c"), "");
  EXPECT_EQ(urlSchemeOf("/path/with:colon"), "");
  EXPECT_EQ(urlSchemeOf("no-colon"), "");
  EXPECT_EQ(urlSchemeOf("\xC3\xA4pp:x"), "");

  EXPECT_TRUE(isURLScheme("a"));
  EXPECT_FALSE(isURLScheme(""));
  EXPECT_FALSE(isURLScheme("+a"));
  EXPECT_FALSE(isURLScheme("a_b"));
}

}  // namespace
}  // namespace tavero::base
