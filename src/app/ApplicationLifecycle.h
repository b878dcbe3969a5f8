// The application's lifecycle on a desktop: turns "the window was minimised /
// shown again" and the control commands `app background|foreground|terminate`
// into the application delegate's events, in a device's order (resign active, then enter background;
// enter foreground, then become active), never twice in a row. It also
// hands URLs that open the app (`url open`, `tavero open-url`) to the
// delegate.
//
// Thread rules: main thread only (the control commands run there).
#pragma once

#include <functional>
#include <string>

#include "control/ControlCommandRegistry.h"
#include "host/TQAppDelegate.h"

namespace tavero::app {

class ApplicationLifecycle {
 public:
  enum class State { Active, Background };

  // `terminate` ends the application as closing its window does; null when
  // nothing may end it (the terminate command then says so).
  ApplicationLifecycle(host::TQAppDelegate& delegate, std::function<void()> terminate);

  // False (and nothing happens) when the application is already there.
  bool enterBackground();
  bool enterForeground();
  State state() const { return state_; }

  // Adds `app background`, `app foreground`, `app terminate` and `url open`.
  void addControlCommands(control::ControlCommandRegistry& commands);
  // The same for `lifecycle`; null only to list the commands (their
  // handlers must then never run).
  static void addControlCommands(control::ControlCommandRegistry& commands, ApplicationLifecycle* lifecycle);

 private:
  // Waits until the bridge stopped after "pause" and says how it went.
  std::string backgroundOutcome();

  host::TQAppDelegate& delegate_;
  std::function<void()> terminate_;
  State state_ = State::Active;
};

}  // namespace tavero::app
