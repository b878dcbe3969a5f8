#include "host/LiveReload.h"

#include <utility>

#include "log/Log.h"

namespace tavero::host {

LiveReload::LiveReload(base::MainLoopTimers& timers, std::function<void()> reloadPages, Clock clock)
    : timers_(timers), reloadPages_(std::move(reloadPages)), clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return std::chrono::steady_clock::now(); };
}

std::optional<std::string> LiveReload::start(const std::filesystem::path& bundleFolder,
                                             platform::FileWatcher& webappWatcher,
                                             platform::FileWatcher& bundleWatcher) {
  if (auto error = webappWatcher.start(bundleFolder / "webapp", platform::FileWatcher::Depth::tree,
                                       [this](const platform::FileChange& change) { webappChanged(change); }))
    return error;
  if (auto error = bundleWatcher.start(bundleFolder, platform::FileWatcher::Depth::folderOnly,
                                       [this](const platform::FileChange& change) { bundleChanged(change); }))
    log::warning("watch: " + *error + "; a change to Info.plist goes unnoticed");
  log::info("watch: the pages reload when a file in " + (bundleFolder / "webapp").string() + " changes");
  return std::nullopt;
}

bool LiveReload::isEditorScratchFile(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (path.starts_with('.') || path.find("/.") != std::string::npos) return true;  // hidden, or in a hidden folder
  return name.ends_with('~') || name.ends_with(".swp") || name.ends_with(".swx") || name == "4913";
}

void LiveReload::webappChanged(const platform::FileChange& change) {
  if (change.path.empty()) {
    // The folder itself: build tools remove it and make it again.
    if (change.kind == platform::FileChangeKind::removed) {
      log::warning("watch: webapp/ was removed; the pages reload when it is back");
      return;
    }
    reloadDue_ = true;
    noteChange("webapp/");
    return;
  }
  if (isEditorScratchFile(change.path)) return;
  reloadDue_ = true;
  noteChange("webapp/" + change.path);
}

void LiveReload::bundleChanged(const platform::FileChange& change) {
  if (change.path != "Info.plist") return;
  infoPlistChanged_ = true;
  noteChange(change.path);
}

void LiveReload::noteChange(const std::string& name) {
  ++changeCount_;
  if (changedFiles_.size() < kNamedFilesLimit || changedFiles_.contains(name))
    changedFiles_.insert(name);
  else
    ++otherChanges_;
  const auto now = clock_();
  if (!settleTimer_) {
    firstChange_ = now;
  } else if (now - firstChange_ >= kLongestWait) {
    return;  // changes keep coming: the timer set earlier ends the wait
  }
  settleTimer_ = timers_.schedule(kSettleTime, false, [this] { settled(); });
}

std::string LiveReload::changedFilesText() const {
  std::string text;
  size_t named = 0;
  for (const auto& name : changedFiles_) {
    if (named == kNamesInLog) break;
    text += (named++ ? ", " : "") + name;
  }
  if (named < changedFiles_.size() || otherChanges_)
    text += " and others changed (" + std::to_string(changeCount_) + " changes)";
  else
    text += " changed";
  return text;
}

void LiveReload::settled() {
  // The timer's tick runs inside it: it is released below, after the work.
  auto timer = std::move(settleTimer_);
  if (infoPlistChanged_)
    log::warning("watch: Info.plist changed; the shell reads it at launch only: restart the app for the change "
                 "to take effect");
  if (reloadDue_) {
    ++reloadCount_;
    log::info("watch: " + changedFilesText() + "; reloading the pages");
    reloadPages_();
  }
  changedFiles_.clear();
  otherChanges_ = 0;
  changeCount_ = 0;
  reloadDue_ = false;
  infoPlistChanged_ = false;
}

}  // namespace tavero::host
