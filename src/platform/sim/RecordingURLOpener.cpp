#include "platform/sim/RecordingURLOpener.h"

#include "control/EventTime.h"
#include "log/Log.h"

namespace tavero::platform {

void RecordingURLOpener::openURL(const std::string& url) {
  log::info("url: recorded the opening of " + url);
  std::lock_guard lock(mutex_);
  if (opened_.size() >= kMaxRecorded) opened_.erase(opened_.begin());
  opened_.push_back({std::chrono::system_clock::now(), url});
}

std::vector<RecordingURLOpener::OpenedURL> RecordingURLOpener::openedURLs() const {
  std::lock_guard lock(mutex_);
  return opened_;
}

void RecordingURLOpener::addControlCommands(control::ControlCommandRegistry& commands) {
  commands.addEventKind("opened-urls", "the URLs pages asked to open, oldest first", [this] {
    json::Array list;
    for (const auto& opened : openedURLs()) {
      json::Object entry;
      entry.append("time", control::eventTimeText(opened.time));
      entry.append("url", opened.url);
      list.emplace_back(std::move(entry));
    }
    return json::Value(std::move(list));
  });
}

}  // namespace tavero::platform
