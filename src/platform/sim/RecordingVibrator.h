// A vibrator that records when it was asked to vibrate (`tavero device
// events vibrations` lists the times). The window's vibrator records
// through one of these too.
//
// Thread rules: any thread.
#pragma once

#include <chrono>
#include <mutex>
#include <vector>

#include "control/ControlCommandRegistry.h"
#include "platform/Vibrator.h"

namespace tavero::platform {

class RecordingVibrator : public Vibrator {
 public:
  void vibrate() override;

  std::vector<std::chrono::system_clock::time_point> vibrations() const;
  // Adds the event kind "vibrations": [{"time": ...}, ...].
  void addControlCommands(control::ControlCommandRegistry& commands);

  static constexpr size_t kMaxRecorded = 1000;  // older ones are dropped first

 private:
  mutable std::mutex mutex_;  // guards vibrations_
  std::vector<std::chrono::system_clock::time_point> vibrations_;
};

}  // namespace tavero::platform
