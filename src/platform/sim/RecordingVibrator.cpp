#include "platform/sim/RecordingVibrator.h"

#include "control/EventTime.h"
#include "log/Log.h"

namespace tavero::platform {

void RecordingVibrator::vibrate() {
  log::info("vibration: the device vibrates");
  std::lock_guard lock(mutex_);
  if (vibrations_.size() >= kMaxRecorded) vibrations_.erase(vibrations_.begin());
  vibrations_.push_back(std::chrono::system_clock::now());
}

std::vector<std::chrono::system_clock::time_point> RecordingVibrator::vibrations() const {
  std::lock_guard lock(mutex_);
  return vibrations_;
}

void RecordingVibrator::addControlCommands(control::ControlCommandRegistry& commands) {
  commands.addEventKind("vibrations", "when the pages made the device vibrate, oldest first", [this] {
    json::Array list;
    for (auto time : vibrations()) {
      json::Object entry;
      entry.append("time", control::eventTimeText(time));
      list.emplace_back(std::move(entry));
    }
    return json::Value(std::move(list));
  });
}

}  // namespace tavero::platform
