// Timers on GLib's default main context (the main thread's loop).
#pragma once

#include "base/MainLoopTimers.h"

namespace tavero::platform {

class GLibMainLoopTimers : public base::MainLoopTimers {
 public:
  std::unique_ptr<base::Timer> schedule(std::chrono::milliseconds interval, bool repeats,
                                  std::function<void()> tick) override;
};

}  // namespace tavero::platform
