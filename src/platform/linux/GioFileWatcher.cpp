#include "platform/linux/GioFileWatcher.h"

#include <gio/gio.h>

#include <system_error>
#include <utility>
#include <vector>

#include "log/Log.h"

namespace tavero::platform {
namespace {

// Writes closer together than this are one change for the monitor: an
// editor's save is reported at once, a file written continuously no more
// than ten times a second.
constexpr int kRateLimitMs = 100;

std::string pathOf(GFile* file) {
  char* path = g_file_get_path(file);
  std::string text = path ? path : "";
  g_free(path);
  return text;
}

bool isFolder(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_directory(std::filesystem::symlink_status(path, ec));
}

std::string joined(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

bool isInside(const std::string& path, const std::string& folder) {
  return folder.empty() || path == folder || path.starts_with(folder + "/");
}

using EventCallback = void (*)(GFileMonitor*, GFile*, GFile*, GFileMonitorEvent, gpointer);

GFileMonitor* monitorFolder(const std::filesystem::path& folder, EventCallback callback, gpointer self,
                            std::string& error) {
  GFile* file = g_file_new_for_path(folder.c_str());
  GError* gerror = nullptr;
  GFileMonitor* monitor = g_file_monitor_directory(file, G_FILE_MONITOR_WATCH_MOVES, nullptr, &gerror);
  g_object_unref(file);
  if (!monitor) {
    error = gerror ? gerror->message : "unknown error";
    if (gerror) g_error_free(gerror);
    return nullptr;
  }
  g_file_monitor_set_rate_limit(monitor, kRateLimitMs);
  g_signal_connect(monitor, "changed", G_CALLBACK(callback), self);
  return monitor;
}

void dropMonitor(GFileMonitor* monitor, gpointer self) {
  g_signal_handlers_disconnect_by_data(monitor, self);
  g_file_monitor_cancel(monitor);
  g_object_unref(monitor);
}

}  // namespace

GioFileWatcher::~GioFileWatcher() {
  for (auto& [folder, monitor] : monitors_) dropMonitor(monitor, this);
  if (parentMonitor_) dropMonitor(parentMonitor_, this);
}

std::optional<std::string> GioFileWatcher::start(const std::filesystem::path& folder, Depth depth,
                                                 ChangeHandler handler) {
  root_ = folder.lexically_normal();
  if (!root_.has_filename()) root_ = root_.parent_path();  // "webapp/" names "webapp"
  depth_ = depth;
  handler_ = std::move(handler);
  if (auto error = watchFolder("")) return error;
  std::string error;
  parentMonitor_ = monitorFolder(
      root_.parent_path(),
      +[](GFileMonitor*, GFile* file, GFile* other, GFileMonitorEvent event, gpointer self) {
        static_cast<GioFileWatcher*>(self)->parentEvent(file, other, event);
      },
      this, error);
  if (!parentMonitor_)
    log::warning("watch: " + root_.parent_path().string() + " cannot be watched (" + error + "); if " +
                 root_.string() + " is removed and made again, its changes are no longer seen");
  return std::nullopt;
}

std::optional<std::string> GioFileWatcher::watchFolder(const std::string& relative) {
  if (monitors_.contains(relative)) return std::nullopt;
  if (monitors_.size() >= kMaxFolders) {
    if (!std::exchange(warnedAboutLimit_, true))
      log::warning("watch: " + root_.string() + " has more than " + std::to_string(kMaxFolders) +
                   " folders; changes in the others are not seen");
    return std::nullopt;
  }
  const std::filesystem::path folder = relative.empty() ? root_ : root_ / relative;
  std::string error;
  GFileMonitor* monitor = monitorFolder(
      folder,
      +[](GFileMonitor*, GFile* file, GFile* other, GFileMonitorEvent event, gpointer self) {
        static_cast<GioFileWatcher*>(self)->folderEvent(file, other, event);
      },
      this, error);
  if (!monitor) return folder.string() + " cannot be watched: " + error;
  monitors_.emplace(relative, monitor);
  if (isWatchedTree()) watchSubfolders(relative);
  return std::nullopt;
}

void GioFileWatcher::watchSubfolders(const std::string& relative) {
  const std::filesystem::path folder = relative.empty() ? root_ : root_ / relative;
  std::error_code ec;
  std::vector<std::string> subfolders;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (entry.is_directory(ec) && !entry.is_symlink(ec)) subfolders.push_back(entry.path().filename().string());
  }
  for (const auto& name : subfolders) {
    if (auto error = watchFolder(joined(relative, name))) log::warning("watch: " + *error);
  }
}

void GioFileWatcher::unwatchFolderAndBelow(const std::string& relative) {
  // The folder and those below it sort together among the names that start
  // with its own: a flood of removals does not walk every monitor each time.
  for (auto it = monitors_.lower_bound(relative); it != monitors_.end() && it->first.starts_with(relative);) {
    if (isInside(it->first, relative)) {
      dropMonitor(it->second, this);
      it = monitors_.erase(it);
    } else {
      ++it;
    }
  }
}

std::optional<std::string> GioFileWatcher::relativePath(GFile* file) const {
  if (!file) return std::nullopt;
  std::filesystem::path path(pathOf(file));
  if (path == root_) return std::string();
  std::filesystem::path relative = path.lexically_relative(root_);
  if (relative.empty() || *relative.begin() == "..") return std::nullopt;
  return relative.generic_string();
}

void GioFileWatcher::folderEvent(GFile* file, GFile* other, int event) {
  auto path = relativePath(file);
  if (!path) return;
  // The watched folder going away is reported by its parent's monitor.
  if (path->empty()) return;
  switch (event) {
    case G_FILE_MONITOR_EVENT_CREATED:
    case G_FILE_MONITOR_EVENT_MOVED_IN:
      if (isWatchedTree() && isFolder(root_ / *path)) {
        if (auto error = watchFolder(*path)) log::warning("watch: " + *error);
      }
      report(*path, FileChangeKind::created);
      break;
    case G_FILE_MONITOR_EVENT_CHANGED:
      report(*path, FileChangeKind::changed);
      break;
    case G_FILE_MONITOR_EVENT_DELETED:
    case G_FILE_MONITOR_EVENT_MOVED_OUT:
      unwatchFolderAndBelow(*path);
      report(*path, FileChangeKind::removed);
      break;
    case G_FILE_MONITOR_EVENT_RENAMED: {
      unwatchFolderAndBelow(*path);
      auto renamed = relativePath(other);
      if (!renamed) {
        report(*path, FileChangeKind::removed);
        break;
      }
      if (isWatchedTree() && isFolder(root_ / *renamed)) {
        if (auto error = watchFolder(*renamed)) log::warning("watch: " + *error);
      }
      report(*renamed, FileChangeKind::renamed);
      break;
    }
    default:
      break;  // attributes, unmounts, and the hint after a series of writes
  }
}

// The parent's monitor only tells of the watched folder itself.
void GioFileWatcher::parentEvent(GFile* file, GFile* other, int event) {
  const bool isRoot = file && pathOf(file) == root_.string();
  const bool becomesRoot = other && pathOf(other) == root_.string();
  switch (event) {
    case G_FILE_MONITOR_EVENT_CREATED:
    case G_FILE_MONITOR_EVENT_MOVED_IN:
      if (isRoot) rootAppeared();
      break;
    case G_FILE_MONITOR_EVENT_DELETED:
    case G_FILE_MONITOR_EVENT_MOVED_OUT:
      if (isRoot) rootVanished();
      break;
    case G_FILE_MONITOR_EVENT_RENAMED:
      if (isRoot) rootVanished();
      if (becomesRoot) rootAppeared();
      break;
    default:
      break;
  }
}

void GioFileWatcher::rootVanished() {
  if (monitors_.empty()) return;
  unwatchFolderAndBelow("");
  log::debug("watch: " + root_.string() + " was removed; watching for it to come back");
  report("", FileChangeKind::removed);
}

void GioFileWatcher::rootAppeared() {
  if (!isFolder(root_)) return;
  // A monitor kept from before the removal would report twice; start over.
  unwatchFolderAndBelow("");
  if (auto error = watchFolder("")) {
    log::warning("watch: " + *error);
    return;
  }
  log::debug("watch: " + root_.string() + " is there again");
  report("", FileChangeKind::created);
}

void GioFileWatcher::report(std::string path, FileChangeKind kind) {
  if (handler_) handler_(FileChange{std::move(path), kind});
}

}  // namespace tavero::platform
