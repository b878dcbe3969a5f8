#include "platform/sim/RecordingDesktopNotifier.h"

#include <utility>

namespace tavero::platform {

void RecordingDesktopNotifier::show(DesktopNotification notification, std::function<void()> onActivated) {
  if (shown_.size() >= kMaxRecorded) return;
  shown_.push_back(std::move(notification));
  activations_.push_back(std::move(onActivated));
}

bool RecordingDesktopNotifier::activate(size_t index) {
  if (index >= activations_.size() || !activations_[index]) return false;
  auto activation = std::exchange(activations_[index], nullptr);
  activation();
  return true;
}

}  // namespace tavero::platform
