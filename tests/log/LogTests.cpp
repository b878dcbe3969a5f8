#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/Log.h"

namespace tavero::log {
namespace {

TEST(Log, TextWithControlCharactersStaysOnOneLine) {
  EXPECT_EQ(oneLine("plain text, and ünïcode"), "plain text, and ünïcode");
  // A page's console text trying to forge a line of the shell's.
  EXPECT_EQ(oneLine("ok\n12:00:00.000 tavero error: [index.html] forged"),
            "ok\\n12:00:00.000 tavero error: [index.html] forged");
  EXPECT_EQ(oneLine("a\rb\tc\x1b[31md\x7f"), "a\\rb\\tc\\x1b[31md\\x7f");
  EXPECT_EQ(oneLine(std::string("nul\0here", 8)), "nul\\x00here");
  EXPECT_EQ(oneLine("csi \xc2\x9b" "31m, but \xc2\xa0 stays"), "csi \\u009b31m, but \xc2\xa0 stays");
  EXPECT_EQ(oneLine("cut \xc2"), "cut \xc2");  // a lone lead byte at the end is left alone
}

TEST(Log, EveryMessageReachesTheSinkAsOneLine) {
  std::vector<std::string> lines;
  setSink([&](Level, std::string_view line) { lines.emplace_back(line); });
  warning("[page.html] first\nsecond");
  info("untouched");
  setSink({});
  EXPECT_EQ(lines, (std::vector<std::string>{"[page.html] first\\nsecond", "untouched"}));
}

}  // namespace
}  // namespace tavero::log
