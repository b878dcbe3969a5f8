#include "modules/files/RootDirectory.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace tavero::modules::files {

namespace {

constexpr int kAlways = O_NOFOLLOW | O_CLOEXEC;

long callOpenat2(int folder, const char* path, int flags, mode_t mode) {
  open_how how{};
  how.flags = static_cast<uint64_t>(flags);
  how.mode = (flags & O_CREAT) != 0 ? mode : 0;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  return ::syscall(SYS_openat2, folder, path, &how, sizeof how);
}

bool hasNul(const EntryPath& entry) {
  for (const std::string& component : entry.components())
    if (component.find('\0') != std::string::npos) return true;
  return false;
}

}  // namespace

EntryKind kindOfStat(mode_t mode) {
  if (S_ISDIR(mode)) return EntryKind::folder;
  if (S_ISREG(mode)) return EntryKind::file;
  return EntryKind::other;
}

bool RootDirectory::openat2Available() {
  static const bool available = [] {
    long fd = callOpenat2(AT_FDCWD, "/", O_PATH | O_CLOEXEC, 0);
    if (fd >= 0) ::close(static_cast<int>(fd));
    // Kernels before 5.6 do not know the call; some sandboxes refuse
    // calls they do not know with EPERM.
    return fd >= 0 || (errno != ENOSYS && errno != EPERM);
  }();
  return available;
}

RootDirectory::RootDirectory(const std::filesystem::path& rootPath, Resolution resolution) : resolution_(resolution) {
  // The folders above the root are the app's home and may be links the
  // user set up; the root folder itself must be a real folder.
  std::filesystem::path above = rootPath.parent_path();
  std::string name = rootPath.filename().string();
  UniqueFd holder(::open(above.empty() ? "." : above.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!holder.valid()) {
    openError_ = errorFromErrno(errno);
    return;
  }
  root_ = UniqueFd(::openat(holder.get(), name.empty() ? "." : name.c_str(), O_PATH | O_DIRECTORY | kAlways));
  if (!root_.valid()) openError_ = errorFromErrno(errno);
}

Result<UniqueFd> RootDirectory::open(const EntryPath& entry, int flags, mode_t mode) const {
  if (!root_.valid()) return openError_;
  if (hasNul(entry)) return errorFromErrno(EINVAL);
  if (resolution_ == Resolution::automatic && openat2Available()) return openBeneath(entry, flags, mode);
  return openByWalk(entry, flags, mode);
}

Result<UniqueFd> RootDirectory::openBeneath(const EntryPath& entry, int flags, mode_t mode) const {
  std::string relative = entry.isRoot() ? "." : entry.relativeText();
  // EAGAIN: a rename elsewhere raced the lookup; the kernel asks to retry.
  for (int attempt = 0; attempt < 16; ++attempt) {
    long fd = callOpenat2(root_.get(), relative.c_str(), flags | kAlways, mode);
    if (fd >= 0) return UniqueFd(static_cast<int>(fd));
    if (errno != EAGAIN && errno != EINTR) break;
  }
  return Result<UniqueFd>::fromErrno();
}

Result<UniqueFd> RootDirectory::openByWalk(const EntryPath& entry, int flags, mode_t mode) const {
  const auto& components = entry.components();
  if (components.empty()) {
    int fd = ::openat(root_.get(), ".", flags | O_CLOEXEC, mode);
    return fd >= 0 ? Result<UniqueFd>(UniqueFd(fd)) : Result<UniqueFd>::fromErrno();
  }
  int folder = root_.get();
  UniqueFd current;
  for (size_t i = 0; i + 1 < components.size(); ++i) {
    UniqueFd next(::openat(folder, components[i].c_str(), O_PATH | O_DIRECTORY | kAlways));
    if (!next.valid()) return Result<UniqueFd>::fromErrno();
    current = std::move(next);
    folder = current.get();
  }
  int fd = ::openat(folder, components.back().c_str(), flags | kAlways, mode);
  return fd >= 0 ? Result<UniqueFd>(UniqueFd(fd)) : Result<UniqueFd>::fromErrno();
}

Result<UniqueFd> RootDirectory::openParent(const EntryPath& entry) const {
  if (hasNul(entry)) return errorFromErrno(EINVAL);
  return open(entry.parent(), O_PATH | O_DIRECTORY);
}

EntryKind RootDirectory::kindOf(const EntryPath& entry) const {
  if (!root_.valid() || hasNul(entry)) return EntryKind::none;
  struct stat st {};
  if (entry.isRoot()) return ::fstat(root_.get(), &st) == 0 ? kindOfStat(st.st_mode) : EntryKind::none;
  Result<UniqueFd> parent = openParent(entry);
  if (!parent) return EntryKind::none;
  if (::fstatat(parent->get(), entry.name().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::none;
  return kindOfStat(st.st_mode);
}

}  // namespace tavero::modules::files
