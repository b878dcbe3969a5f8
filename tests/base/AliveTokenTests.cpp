#include "base/AliveToken.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tavero::base {
namespace {

TEST(AliveTokenTest, WatchesTurnFalseOnlyWhenTheirTokenIsGone) {
  std::optional<AliveToken> first(std::in_place);
  AliveToken second;
  AliveToken::Watch watchesFirst = first->watch();
  AliveToken::Watch watchesSecond = second.watch();
  EXPECT_TRUE(watchesFirst);
  first.reset();
  EXPECT_FALSE(watchesFirst);
  EXPECT_TRUE(watchesSecond);
}

TEST(AliveTokenTest, AGuardedTaskRunsWithItsArgumentsUntilTheTokenIsGone) {
  auto token = std::make_unique<AliveToken>();
  std::string seen;
  std::function<void(std::string, std::unique_ptr<int>)> task =
      token->guard([&seen](std::string text, std::unique_ptr<int> number) { seen += text + std::to_string(*number); });
  task("a", std::make_unique<int>(1));
  EXPECT_EQ(seen, "a1");
  token.reset();
  task("b", std::make_unique<int>(2));
  EXPECT_EQ(seen, "a1");
}

}  // namespace
}  // namespace tavero::base
