// Notifications on the desktop (the bubbles a desktop shows and keeps in
// its list): a title and a text under the app's name. The user may click
// one, which the notifier reports.
//
// Thread rules: main thread only; `onActivated` is called on the main
// thread, at most once, and never after the notifier is gone.
#pragma once

#include <functional>
#include <string>

namespace tavero::platform {

struct DesktopNotification {
  std::string title;
  std::string body;  // plain text: the notifier escapes what its desktop would read as markup
};

class DesktopNotifier {
 public:
  virtual ~DesktopNotifier() = default;
  // Shows `notification`; `onActivated` runs when the user clicks it. A
  // desktop without notifications shows nothing (and says so in the log).
  virtual void show(DesktopNotification notification, std::function<void()> onActivated) = 0;
};

}  // namespace tavero::platform
