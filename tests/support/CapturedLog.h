// The shell's log lines while one of these lives (tests read them instead of
// standard error). Lines may come from any thread.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "log/Log.h"

namespace tavero::testing {

class CapturedLog {
 public:
  CapturedLog() {
    log::setSink([this](log::Level, std::string_view line) {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(line);
    });
  }
  ~CapturedLog() { log::setSink({}); }
  CapturedLog(const CapturedLog&) = delete;
  CapturedLog& operator=(const CapturedLog&) = delete;

  bool has(const std::string& text) { return !containing(text).empty(); }

  std::vector<std::string> containing(const std::string& text) {
    std::lock_guard lock(mutex_);
    std::vector<std::string> found;
    std::copy_if(lines_.begin(), lines_.end(), std::back_inserter(found),
                 [&](const std::string& line) { return line.find(text) != std::string::npos; });
    return found;
  }

  // Every line, for a failure message.
  std::string all() {
    std::lock_guard lock(mutex_);
    std::string text;
    for (const auto& line : lines_) text += line + "\n";
    return text;
  }

 private:
  std::mutex mutex_;  // guards lines_
  std::vector<std::string> lines_;
};

}  // namespace tavero::testing
