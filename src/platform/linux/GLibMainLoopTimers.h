// Timers on GLib's default main context (the main thread's loop).
#pragma once

#include "platform/MainLoopTimers.h"

namespace tavero::platform {

class GLibMainLoopTimers : public MainLoopTimers {
 public:
  std::unique_ptr<Timer> schedule(std::chrono::milliseconds interval, bool repeats,
                                  std::function<void()> tick) override;
};

}  // namespace tavero::platform
