// A URL opener that opens nothing and records each URL with its time, for
// tests and headless runs (`tavero device events opened-urls` lists them).
// The desktop opener records through one of these too.
//
// Thread rules: any thread.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "control/ControlCommandRegistry.h"
#include "platform/URLOpener.h"

namespace tavero::platform {

class RecordingURLOpener : public URLOpener {
 public:
  struct OpenedURL {
    std::chrono::system_clock::time_point time;
    std::string url;
  };

  void openURL(const std::string& url) override;

  std::vector<OpenedURL> openedURLs() const;
  // Adds the event kind "opened-urls": [{"time": ..., "url": ...}, ...].
  void addControlCommands(control::ControlCommandRegistry& commands);

  // Recorded at most; older URLs are dropped first.
  static constexpr size_t kMaxRecorded = 1000;

 private:
  mutable std::mutex mutex_;  // guards opened_
  std::vector<OpenedURL> opened_;
};

}  // namespace tavero::platform
