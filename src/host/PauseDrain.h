// Going to the background without cutting off the pages' pause handlers:
// after "pause" the bridge goes on serving until the pages report that
// their handlers ran, every call under way has been answered, and no new
// call came for a short quiet time (so that calls made by the callbacks of
// those calls are served too). Then the bridge stops. However busy the
// pages are, it stops at most kLimit after "pause".
//
// Thread rules: main thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "base/MainLoopTimers.h"
#include "bridge/CallsInFlight.h"

namespace tavero::host {

class PauseDrain {
 public:
  // The longest the bridge serves after "pause".
  static constexpr std::chrono::milliseconds kLimit{5000};
  // How long the bridge must have been idle, once the handlers ran.
  static constexpr std::chrono::milliseconds kQuietTime{100};
  static constexpr std::chrono::milliseconds kPollInterval{20};

  // `calls` must outlive this object.
  PauseDrain(base::MainLoopTimers& timers, const bridge::CallsInFlight& calls);

  // Starts waiting (a wait under way is dropped); `stop` runs when it ends,
  // unless cancel() came first.
  void start(std::function<void()> stop);
  // The pages' pause handlers have run.
  void handlersRan();
  // Ends the wait without stopping (the app came back meanwhile).
  void cancel();

  bool waiting() const { return stop_ != nullptr; }
  // How long the last finished wait took, from start() to the stop.
  std::optional<std::chrono::milliseconds> lastWait() const { return lastWait_; }

 private:
  void poll();
  void finish(bool inTime);

  base::MainLoopTimers& timers_;
  const bridge::CallsInFlight& calls_;
  std::function<void()> stop_;  // set while waiting
  std::unique_ptr<base::Timer> pollTimer_;
  std::unique_ptr<base::Timer> limitTimer_;
  std::chrono::steady_clock::time_point started_;
  bool handlersRan_ = false;
  uint64_t callsBegunAtLastPoll_ = 0;
  int quietPolls_ = 0;
  std::optional<std::chrono::milliseconds> lastWait_;
};

}  // namespace tavero::host
