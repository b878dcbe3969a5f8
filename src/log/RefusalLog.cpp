#include "log/RefusalLog.h"

#include <string>

namespace tavero::log {

RefusalLog::RefusalLog(Clock clock)
    : clock_(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); })) {}

void RefusalLog::startAfresh() {
  std::lock_guard lock(mutex_);
  linesThisInterval_ = 0;
  leftOut_ = 0;
}

void RefusalLog::write(std::string_view message) {
  std::string line;
  {
    std::lock_guard lock(mutex_);
    auto now = clock_();
    if (linesThisInterval_ == 0 || now - intervalStart_ >= kInterval) {
      intervalStart_ = now;
      linesThisInterval_ = 0;
    }
    if (linesThisInterval_ == kLinesPerInterval) {
      ++leftOut_;
      return;
    }
    ++linesThisInterval_;
    line = message;
    if (leftOut_ > 0) line += " (" + std::to_string(leftOut_) + " more refusals not logged before this one)";
    leftOut_ = 0;
  }
  warning(line);
}

RefusalLog& RefusalLog::shared() {
  static RefusalLog log;
  return log;
}

}  // namespace tavero::log
