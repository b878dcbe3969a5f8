// A file watcher that watches nothing: the test reports the changes, as the
// platform's watcher would on the main thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/FileWatcher.h"

namespace tavero::testing {

class FakeFileWatcher : public platform::FileWatcher {
 public:
  std::optional<std::string> start(const std::filesystem::path& folder, Depth depth, ChangeHandler handler) override {
    watchedFolder = folder;
    watchedDepth = depth;
    if (startError) return startError;
    handler_ = std::move(handler);
    return std::nullopt;
  }

  // Reports one change to the handler; false when nothing is watched.
  bool change(std::string path, platform::FileChangeKind kind = platform::FileChangeKind::changed) {
    if (!handler_) return false;
    handler_(platform::FileChange{std::move(path), kind});
    return true;
  }

  std::optional<std::string> startError;  // set before start() to make it fail
  std::filesystem::path watchedFolder;
  Depth watchedDepth = Depth::folderOnly;

 private:
  ChangeHandler handler_;
};

}  // namespace tavero::testing
