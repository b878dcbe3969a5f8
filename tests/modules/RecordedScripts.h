// The callback scripts a module's deliveries become, recorded for tests
// that call the module over the bridge and read what reached the page.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "host/ScriptCallbackDelivery.h"

namespace tavero::modules::test {

class RecordedScripts {
 public:
  // What the module under test delivers its callbacks to.
  bridge::CallbackDelivery& delivery() { return delivery_; }

  // The oldest script not taken yet, waiting up to five seconds for one;
  // `none` when none came.
  std::string next(const std::string& none = "<none>") {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(5), [&] { return !scripts_.empty(); });
    if (scripts_.empty()) return none;
    std::string script = scripts_.front();
    scripts_.erase(scripts_.begin());
    return script;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> scripts_;
  host::ScriptCallbackDelivery delivery_{[this](const std::string&, const std::string& script) {
    {
      std::lock_guard lock(mutex_);
      scripts_.push_back(script);
    }
    changed_.notify_all();
  }};
};

}  // namespace tavero::modules::test
