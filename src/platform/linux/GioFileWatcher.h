// FileWatcher on GIO's file monitors (inotify underneath): one monitor per
// folder, since a monitor sees only the folder it was made for. Folders
// made later below a watched tree are watched as they appear; a removed
// folder's monitors go with it. The watched folder's parent is monitored
// too, for the folder itself: build tools often remove it and make it again.
//
// Bounded: at most kMaxFolders monitors per watcher; a tree with more
// folders is watched in part, with one warning.
//
// Thread rules: main thread only (GIO reports on the main context of the
// thread that made the monitors).
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>

#include "platform/FileWatcher.h"

typedef struct _GFileMonitor GFileMonitor;
typedef struct _GFile GFile;

namespace tavero::platform {

class GioFileWatcher : public FileWatcher {
 public:
  static constexpr size_t kMaxFolders = 2048;

  GioFileWatcher() = default;
  ~GioFileWatcher() override;
  GioFileWatcher(const GioFileWatcher&) = delete;
  GioFileWatcher& operator=(const GioFileWatcher&) = delete;

  std::optional<std::string> start(const std::filesystem::path& folder, Depth depth, ChangeHandler handler) override;

  // How many folders have a monitor now (the watched one included).
  size_t watchedFolderCount() const { return monitors_.size(); }

 private:
  std::optional<std::string> watchFolder(const std::string& relative);
  void watchSubfolders(const std::string& relative);
  void unwatchFolderAndBelow(const std::string& relative);
  void folderEvent(GFile* file, GFile* other, int event);
  void parentEvent(GFile* file, GFile* other, int event);
  void rootAppeared();
  void rootVanished();
  // The path of `file` relative to the watched folder, or nothing when it is
  // not inside it.
  std::optional<std::string> relativePath(GFile* file) const;
  bool isWatchedTree() const { return depth_ == Depth::tree; }
  void report(std::string path, FileChangeKind kind);

  std::filesystem::path root_;
  Depth depth_ = Depth::folderOnly;
  ChangeHandler handler_;
  std::map<std::string, GFileMonitor*> monitors_;  // by relative folder
  GFileMonitor* parentMonitor_ = nullptr;
  bool warnedAboutLimit_ = false;
};

}  // namespace tavero::platform
