#include "json/Base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavero::json {
namespace {

std::string encode(std::string_view text, bool wrap = false) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  return ql_base64_encode(bytes, wrap);
}

TEST(Base64, PadsTheFinalGroup) {
  EXPECT_EQ(encode(""), "");
  EXPECT_EQ(encode("a"), "YQ==");
  EXPECT_EQ(encode("ab"), "YWI=");
  EXPECT_EQ(encode("abc"), "YWJj");
  EXPECT_EQ(encode(std::string("\xff\xfe\xfd\x00", 4)), "//79AA==");
  EXPECT_EQ(encode(std::string("\0\0\0", 3)), "AAAA");
}

TEST(Base64, WrapsAfterEveryEighteenFullGroups) {
  std::string line(72, '\0');
  for (char& c : line) c = 'A';

  // The line feed follows a complete line even when nothing comes after it.
  EXPECT_EQ(encode(std::string(54, '\0'), true), line + "\n");
  EXPECT_EQ(encode(std::string(108, '\0'), true), line + "\n" + line + "\n");
  // A padded group after a full line starts the next line and ends the text.
  EXPECT_EQ(encode(std::string(55, '\0'), true), line + "\nAA==");
  EXPECT_EQ(encode(std::string(53, '\0'), true), line.substr(0, 68) + "AAA=");
  // Without wrapping there are no line feeds at all.
  EXPECT_EQ(encode(std::string(108, '\0'), false), line + line);
}

TEST(Base64, DecodesWhatItEncodesForEveryLengthAndByte) {
  std::string bytes;
  for (int i = 0; i < 300; ++i) {
    EXPECT_EQ(base64Decode(encode(bytes)), bytes) << "length " << i;
    bytes.push_back(static_cast<char>((i * 151 + 7) & 0xff));
  }
}

// A page's text is refused unless it is exactly what btoa writes: one text
// per byte string, so nothing odd slips through as a different file.
TEST(Base64, RefusesAnythingButPaddedUnwrappedBase64) {
  EXPECT_EQ(base64Decode(""), "");
  for (const char* bad : {"Y", "YQ", "YQ=", "YQ===", "====", "Y===", "YQ==YQ==", "YW=j", "YWJj\n", "YW Jj", "YWJ\0",
                          "YWJ-", "YWJ_", "Y\xc3\xa9" "A", "YR==", "YWJ="}) {
    EXPECT_FALSE(base64Decode(bad)) << bad;
  }
  EXPECT_FALSE(base64Decode(std::string("YWJ\0", 4)));
}

}  // namespace
}  // namespace tavero::json
