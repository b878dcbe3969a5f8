// Watches a folder for changes to the files and folders in it, for live
// reloading while an app is developed.
//
// Thread rules: create, start and destroy on the main thread; the handler
// runs on the main thread. Once the destructor has returned the handler is
// never called again.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tavero::platform {

enum class FileChangeKind {
  created,
  changed,  // its content was written
  removed,
  renamed,  // moved within the watched folder: `path` is the new name
};

struct FileChange {
  // Relative to the watched folder, with '/' between folders ("js/app.js").
  // Empty for the watched folder itself (removed, or made again).
  std::string path;
  FileChangeKind kind = FileChangeKind::changed;
};

class FileWatcher {
 public:
  using ChangeHandler = std::function<void(const FileChange&)>;

  enum class Depth {
    folderOnly,  // the files directly in the folder
    tree,        // and every folder below it, also those made later
  };

  virtual ~FileWatcher() = default;

  // Starts reporting changes in `folder` to `handler`; an error message when
  // the folder cannot be watched. Call once. A folder that is removed and
  // made again is watched again (its change is reported with an empty path).
  virtual std::optional<std::string> start(const std::filesystem::path& folder, Depth depth,
                                           ChangeHandler handler) = 0;
};

}  // namespace tavero::platform
