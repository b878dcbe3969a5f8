// User defaults in one JSON file per app (Library/Preferences/<bundle id>.json),
// replaced atomically on every change (see AtomicFile.h).
//
// A file that cannot be read as a JSON object is not overwritten: it is set
// aside as "<name>.unreadable-<time>" with a log line, and the defaults
// start empty.
//
// Thread rules: any thread.
#pragma once

#include <filesystem>
#include <mutex>

#include "platform/UserDefaults.h"

namespace tavero::platform {

class FileUserDefaults : public UserDefaults {
 public:
  explicit FileUserDefaults(std::filesystem::path file);

  std::optional<json::Value> value(std::string_view key) const override;
  std::optional<std::string> setValue(const std::string& key, json::Value value) override;
  std::optional<std::string> update(const std::string& key, const Change& change) override;

  const std::filesystem::path& file() const { return file_; }

 private:
  std::optional<std::string> writeLocked(const json::Object& values);

  const std::filesystem::path file_;
  mutable std::mutex mutex_;  // guards values_ and the file
  json::Object values_;
};

}  // namespace tavero::platform
