// Timers on the main thread's loop.
//
// Thread rules: schedule() from any thread; ticks run on the main thread.
// Destroying a Timer cancels it: on the main thread no tick runs after the
// destructor; from another thread a tick that already started may finish,
// so ticks must not reach objects that may be gone (capture weak handles).
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace tavero::base {

class Timer {
 public:
  virtual ~Timer() = default;
};

class MainLoopTimers {
 public:
  virtual ~MainLoopTimers() = default;

  // The first tick comes `interval` after this call; with `repeats`, ticks
  // follow every `interval` until the Timer is destroyed. REQUIRES: interval
  // of at least 1 ms.
  virtual std::unique_ptr<Timer> schedule(std::chrono::milliseconds interval, bool repeats,
                                          std::function<void()> tick) = 0;
};

}  // namespace tavero::base
