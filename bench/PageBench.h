// What the page benchmarks share: a display and GTK, a shell running one of
// bench/'s bundles with a probe module ("TQBench") the page reports to, the
// probe's state shared with the measuring thread, and medians.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/ShellApplication.h"
#include "platform/linux/XvfbDisplay.h"

namespace tavero::bench {

using Clock = std::chrono::steady_clock;

// The median of `values`; 0 when there are none.
double median(std::vector<double> values);

// State a probe module shares with the thread that measures: changed under
// `mutex` with update(), waited for with waitFor().
class ProbeState {
 public:
  template <class Change>
  void update(Change change) {
    {
      std::lock_guard lock(mutex);
      change();
    }
    changed_.notify_all();
  }
  template <class Condition>
  bool waitFor(Condition condition, std::chrono::seconds limit = std::chrono::seconds(60)) {
    std::unique_lock lock(mutex);
    return changed_.wait_for(lock, limit, condition);
  }

  std::mutex mutex;

 private:
  std::condition_variable changed_;
};

// Gives the process a display (a private Xvfb, kept in `display`, when
// DISPLAY is not set) and GTK. False after saying why on stderr.
bool prepareDisplay(std::unique_ptr<platform::XvfbDisplay>& display);

// Settings for a shell running bench/<bundle> in the fresh home `home`, on
// a simulated desktop device.
app::ShellApplication::Settings pageBenchSettings(const std::string& bundle, const std::filesystem::path& home);

// Adds the probe module that `make` builds to the shell's modules as
// "TQBench", besides what settings.extraModules already adds; `probe` points
// to it once it is made (launchWithProbe makes it before the page runs).
template <class Probe>
void addProbe(app::ShellApplication::Settings& settings, Probe*& probe,
              std::function<std::unique_ptr<Probe>(bridge::CallbackDelivery&)> make) {
  settings.extraModules = [&probe, make = std::move(make), before = std::move(settings.extraModules)](
                              bridge::ModuleRegistry& modules, bridge::CallbackDelivery& callbacks) {
    if (before) before(modules, callbacks);
    modules.add("TQBench", [&probe, make, &callbacks] {
      auto module = make(callbacks);
      probe = module.get();
      return module;
    });
  };
}

// Makes the probe, so that the measuring thread finds it, and launches the
// start page. False after saying why on stderr.
bool launchWithProbe(app::ShellApplication& shell);

}  // namespace tavero::bench
