// A desktop notifier that only records what it was asked to show, and lets
// its owner click a notification as the user would. For runs without
// desktop notifications and for tests.
//
// Thread rules: main thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "platform/DesktopNotifier.h"

namespace tavero::platform {

class RecordingDesktopNotifier : public DesktopNotifier {
 public:
  void show(DesktopNotification notification, std::function<void()> onActivated) override;

  // Every notification shown, oldest first.
  const std::vector<DesktopNotification>& shown() const { return shown_; }
  // Clicks notification `index` of shown(); false when there is none or it
  // was clicked already.
  bool activate(size_t index);

  static constexpr size_t kMaxRecorded = 1000;  // none is recorded beyond

 private:
  std::vector<DesktopNotification> shown_;
  std::vector<std::function<void()>> activations_;  // one per shown_, emptied once run
};

}  // namespace tavero::platform
