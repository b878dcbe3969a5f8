// SIGINT, SIGTERM and SIGHUP (the terminal went away), caught from the
// first moment of the process so that they always stop the shell in order (local storage saved, private display
// stopped) instead of ending it wherever it is.
//
// install() replaces the signals' default action with a handler that only
// records the signal and wakes whoever watches notificationFd(); the main
// loop watches it (GLibMainThread::onTerminationSignal). Child processes
// start with the default actions again (exec resets caught signals).
//
// Thread rules: install() once, early in main, before other threads start;
// received() and notificationFd() from any thread.
#pragma once

namespace tavero::platform {

class TerminationSignals {
 public:
  TerminationSignals() = delete;

  // Catches SIGINT, SIGTERM and SIGHUP from now on; later calls do nothing. False
  // (with errno set) when the handlers could not be installed.
  static bool install();

  // The first termination signal received since install(), or 0.
  static int received();

  // A descriptor that becomes readable when a signal arrives; -1 before
  // install(). Readers drain it; received() still tells what came.
  static int notificationFd();
};

}  // namespace tavero::platform
