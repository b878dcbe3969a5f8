#include <gtest/gtest.h>

#include "modules/OriginIdentifier.h"

namespace tavero::modules {
namespace {

TEST(OriginIdentifier, SchemeHostAndPortOfThePageURL) {
  EXPECT_EQ(originIdentifier("file:///usr/share/app/webapp/index.html"), "file__0");
  EXPECT_EQ(originIdentifier("http://example.org:8080/a?b#c"), "http_example.org_8080");
  EXPECT_EQ(originIdentifier("https://user:pw@example.org/"), "https_example.org_0");
  EXPECT_EQ(originIdentifier("http://[::1]:3000/"), "http_::1_3000");
  EXPECT_EQ(originIdentifier(""), "(null)__0");
  EXPECT_EQ(originIdentifier("index.html"), "(null)__0");
  EXPECT_EQ(originIdentifier("x://a\\b/c"), "x_a_b_0");
}

}  // namespace
}  // namespace tavero::modules
