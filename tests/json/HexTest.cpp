#include "json/Hex.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace tavero::json {
namespace {

TEST(HexTest, WritesEachByteAsTwoDigitsHighFirstInTheAskedCase) {
  const std::array<unsigned char, 6> bytes = {0x00, 0x09, 0x0a, 0x10, 0xa5, 0xff};
  EXPECT_EQ(hexText(bytes), "00090a10a5ff");
  EXPECT_EQ(hexText(bytes, HexCase::upper), "00090A10A5FF");
  EXPECT_EQ(hexText({}), "");

  std::string text = "%";
  appendHex(text, 0xc3, HexCase::upper);
  appendHex(text, 0x7f);
  EXPECT_EQ(text, "%C37f");
  EXPECT_EQ(hexDigit(15, HexCase::upper), 'F');
}

}  // namespace
}  // namespace tavero::json
