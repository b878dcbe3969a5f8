// The shared bound on refusal lines: a burst a second, then a count of what
// was left out on the next line written.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "log/RefusalLog.h"

namespace tavero::log {
namespace {

class RefusalLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setSink([this](Level level, std::string_view line) {
      EXPECT_EQ(level, Level::Warning);
      lines_.emplace_back(line);
    });
  }
  void TearDown() override { setSink({}); }

  std::chrono::steady_clock::time_point now_{std::chrono::hours(1)};
  RefusalLog log_{[this] { return now_; }};
  std::vector<std::string> lines_;
};

TEST_F(RefusalLogTest, ABurstBeyondTheIntervalsLinesIsCountedAndTheCountReported) {
  for (int i = 0; i < 100; ++i) log_.write("refused " + std::to_string(i));
  ASSERT_EQ(lines_.size(), RefusalLog::kLinesPerInterval);
  EXPECT_EQ(lines_.back(), "refused " + std::to_string(RefusalLog::kLinesPerInterval - 1));

  now_ += RefusalLog::kInterval - std::chrono::milliseconds(1);
  log_.write("still within the interval");
  EXPECT_EQ(lines_.size(), RefusalLog::kLinesPerInterval);

  now_ += std::chrono::milliseconds(1);
  log_.write("next interval");
  ASSERT_EQ(lines_.size(), RefusalLog::kLinesPerInterval + 1);
  EXPECT_EQ(lines_.back(), "next interval (96 more refusals not logged before this one)");
  log_.write("and another");
  EXPECT_EQ(lines_.back(), "and another");  // the count is reported once
}

TEST_F(RefusalLogTest, AQuietLogWritesEveryLine) {
  for (int i = 0; i < 20; ++i) {
    log_.write("refused");
    now_ += RefusalLog::kInterval;
  }
  EXPECT_EQ(lines_.size(), 20u);
}

}  // namespace
}  // namespace tavero::log
