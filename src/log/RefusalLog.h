// Log lines about refused requests, connections and messages, bounded.
//
// Whoever is refused can try again at once, as often as they like: each
// refusal writing its own line would let them fill the log (and the disk
// under it). Every road that logs a refusal writes through one RefusalLog,
// the process's own (RefusalLog::shared()), so a flood spread over several
// roads is bounded as a whole: at most kLinesPerInterval lines an interval.
// Lines beyond that are counted, and the next line written says how many
// were left out.
//
// Thread rules: any thread; write() is serialised inside.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string_view>

#include "log/Log.h"

namespace tavero::log {

class RefusalLog {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr size_t kLinesPerInterval = 5;
  static constexpr std::chrono::seconds kInterval{1};

  // `clock` is steady_clock::now unless a test gives another.
  explicit RefusalLog(Clock clock = {});

  // Writes `message` as a warning, unless this interval's lines are spent:
  // then only counts it.
  void write(std::string_view message);

  // The one every refusal road of the process writes through.
  static RefusalLog& shared();

  // Starts a new interval with nothing left out, for tests that count the
  // lines of one case whatever the cases before it wrote.
  void startAfresh();

 private:
  const Clock clock_;
  std::mutex mutex_;  // guards the fields below
  std::chrono::steady_clock::time_point intervalStart_;
  size_t linesThisInterval_ = 0;
  size_t leftOut_ = 0;  // lines not written since the last one that was
};

// Shorthand for RefusalLog::shared().write(message).
inline void refusal(std::string_view message) { RefusalLog::shared().write(message); }

}  // namespace tavero::log
