// The application icon's badge number, kept in memory: Linux desktops have
// no common badge to show it on. `tavero device events badge` reads it.
//
// Thread rules: any thread.
#pragma once

#include <atomic>

#include "control/ControlCommandRegistry.h"
#include "platform/ApplicationBadge.h"

namespace tavero::platform {

class RecordedBadge : public ApplicationBadge {
 public:
  void setApplicationIconBadgeNumber(int number) override { number_ = number; }
  int applicationIconBadgeNumber() const override { return number_; }

  // Adds the event kind "badge": the number now.
  void addControlCommands(control::ControlCommandRegistry& commands) {
    commands.addEventKind("badge", "the number on the app's icon now", [this] {
      return json::Value(applicationIconBadgeNumber());
    });
  }

 private:
  std::atomic<int> number_{0};
};

}  // namespace tavero::platform
