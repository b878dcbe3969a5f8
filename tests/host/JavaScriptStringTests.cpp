#include <gtest/gtest.h>

#include "host/JavaScriptString.h"

namespace tavero::host {
namespace {

TEST(JavaScriptString, QuotesAndLineBreaksCannotEndTheLiteral) {
  EXPECT_EQ(escapeForJavaScriptString("Kim's"), "Kim\\'s");
  EXPECT_EQ(escapeForJavaScriptString("a\"b\\c"), "a\\\"b\\\\c");
  EXPECT_EQ(escapeForJavaScriptString("x';alert(1);//"), "x\\';alert(1);//");
  EXPECT_EQ(escapeForJavaScriptString("1\n2\r3\t"), "1\\n2\\r3\\t");
  EXPECT_EQ(escapeForJavaScriptString("</script>"), "\\x3C/script>");
  EXPECT_EQ(escapeForJavaScriptString(std::string("a\0b\x01", 4)), "a\\x00b\\x01");
}

TEST(JavaScriptString, TextStaysUtf8AndBadBytesBecomeReplacementCharacters) {
  EXPECT_EQ(escapeForJavaScriptString("caf\xC3\xA9 \xF0\x9F\x98\x80"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_EQ(escapeForJavaScriptString("\xE2\x80\xA8\xE2\x80\xA9"), "\\u2028\\u2029");
  EXPECT_EQ(escapeForJavaScriptString("a\xFF" "b\xC3"), "a\\uFFFDb\\uFFFD");
  EXPECT_EQ(escapeForJavaScriptString("\xED\xA0\x80"), "\\uFFFD\\uFFFD\\uFFFD");  // an encoded surrogate
}

}  // namespace
}  // namespace tavero::host
