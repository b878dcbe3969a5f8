// Reloads the app's pages when files of its webapp/ folder change
// (`tavero run --watch`), for a quick edit-and-look loop while developing.
//
// Changes are gathered until none has come for kSettleTime (an editor's save
// that writes several files, a build tool's copy), at most kLongestWait after
// the first, then the pages reload once with a log line naming the files.
// Editors' swap and backup files (hidden names, "~", ".swp") are left out.
// A change to Info.plist is only logged: the shell reads it once, at launch.
// Work per change is bounded: a flood of changes keeps at most
// kNamedFilesLimit names and counts the rest.
//
// Thread rules: main thread only.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "base/MainLoopTimers.h"
#include "platform/FileWatcher.h"

namespace tavero::host {

class LiveReload {
 public:
  static constexpr std::chrono::milliseconds kSettleTime{120};
  static constexpr std::chrono::milliseconds kLongestWait{600};
  static constexpr size_t kNamedFilesLimit = 64;
  static constexpr size_t kNamesInLog = 5;

  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `reloadPages` reloads every page (TQEngine::reloadPages). `clock` is the
  // time the longest wait is measured with (steady_clock::now when empty).
  LiveReload(base::MainLoopTimers& timers, std::function<void()> reloadPages, Clock clock = {});

  // Watches `bundleFolder`/webapp and everything below it through
  // `webappWatcher`, and the bundle folder's own files (Info.plist) through
  // `bundleWatcher`; both must outlive this object. An error message when
  // webapp/ cannot be watched.
  std::optional<std::string> start(const std::filesystem::path& bundleFolder, platform::FileWatcher& webappWatcher,
                                   platform::FileWatcher& bundleWatcher);

  // How many times the pages were reloaded.
  size_t reloadCount() const { return reloadCount_; }

 private:
  void webappChanged(const platform::FileChange& change);
  void bundleChanged(const platform::FileChange& change);
  void noteChange(const std::string& name);
  void settled();
  std::string changedFilesText() const;
  static bool isEditorScratchFile(const std::string& path);

  base::MainLoopTimers& timers_;
  std::function<void()> reloadPages_;
  Clock clock_;
  std::unique_ptr<base::Timer> settleTimer_;
  std::chrono::steady_clock::time_point firstChange_;
  std::set<std::string> changedFiles_;  // of the changes gathered now
  size_t otherChanges_ = 0;             // beyond kNamedFilesLimit names
  size_t changeCount_ = 0;              // every change gathered
  bool reloadDue_ = false;              // a change in webapp/ is among them
  bool infoPlistChanged_ = false;
  size_t reloadCount_ = 0;
};

}  // namespace tavero::host
