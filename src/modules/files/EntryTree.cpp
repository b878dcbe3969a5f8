#include "modules/files/EntryTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "modules/files/UniqueFd.h"

namespace tavero::modules::files {

namespace {

constexpr int kOpenFlags = O_NOFOLLOW | O_CLOEXEC;

std::error_code lastError() { return errorFromErrno(errno); }

EntryKind kindOfDirent(int folder, const dirent& entry) {
  switch (entry.d_type) {
    case DT_DIR:
      return EntryKind::folder;
    case DT_REG:
      return EntryKind::file;
    case DT_UNKNOWN: {
      struct stat st {};
      if (::fstatat(folder, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::none;
      return kindOfStat(st.st_mode);
    }
    default:
      return EntryKind::other;
  }
}

std::error_code removeEntryAt(int parent, const std::string& name, int depth) {
  if (depth > kMaxTreeDepth) return errorFromErrno(ENAMETOOLONG);
  struct stat st {};
  if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return lastError();
  if (!S_ISDIR(st.st_mode)) return ::unlinkat(parent, name.c_str(), 0) == 0 ? std::error_code() : lastError();

  UniqueFd folder(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | kOpenFlags));
  if (!folder.valid()) return lastError();
  auto children = listFolder(folder.get());
  if (!children) return children.error();
  for (const FolderChild& child : *children)
    if (auto error = removeEntryAt(folder.get(), child.name, depth + 1)) return error;
  folder.reset();
  return ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0 ? std::error_code() : lastError();
}

// Copies `length` bytes at `offset` of `from` to the same offset of `to`.
std::error_code copyRange(int from, int to, off_t offset, off_t length) {
  off_t in = offset;
  off_t out = offset;
  const off_t end = offset + length;
  bool kernelCopy = true;
  std::array<char, 64 * 1024> buffer;
  while (in < end) {
    const size_t want = static_cast<size_t>(std::min<off_t>(end - in, off_t{1} << 30));
    ssize_t n;
    if (kernelCopy) {
      n = ::copy_file_range(from, &in, to, &out, want, 0);
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
        kernelCopy = false;
        continue;
      }
    } else {
      n = ::pread(from, buffer.data(), std::min(want, buffer.size()), in);
      for (ssize_t written = 0; n > 0 && written < n;) {
        ssize_t w = ::pwrite(to, buffer.data() + written, static_cast<size_t>(n - written), out + written);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return w < 0 ? lastError() : errorFromErrno(EIO);
        written += w;
      }
      if (n > 0) {
        in += n;
        out += n;
      }
    }
    if (n == 0) return {};  // the file got shorter meanwhile
    if (n < 0 && errno != EINTR) return lastError();
  }
  return {};
}

// Copies the bytes of `from` into the empty file `to`, skipping holes so
// that a sparse file stays sparse: a page cannot fill the disk by copying
// a file it only extended.
std::error_code copyBytes(int from, int to) {
  struct stat st {};
  if (::fstat(from, &st) != 0) return lastError();
  const off_t end = st.st_size;
  for (off_t position = 0; position < end;) {
    off_t data = ::lseek(from, position, SEEK_DATA);
    off_t hole = end;
    if (data < 0 && errno == ENXIO) break;  // only a hole is left
    if (data < 0) {
      data = position;  // no hole support: all of it is data
    } else {
      hole = ::lseek(from, data, SEEK_HOLE);
      if (hole < 0 || hole > end) hole = end;
    }
    if (data >= end) break;
    if (auto error = copyRange(from, to, data, hole - data)) return error;
    position = hole;
  }
  return ::ftruncate(to, end) == 0 ? std::error_code() : lastError();
}

// Each copy step makes its target first (failing with EEXIST when something
// is there already) and takes away what it made when a later step fails, so
// a copy that stops half way leaves nothing behind and never touches an
// entry it did not make.
std::error_code copyFile(int sourceParent, const std::string& name, int targetParent, const std::string& targetName) {
  UniqueFd source(::openat(sourceParent, name.c_str(), O_RDONLY | O_NONBLOCK | kOpenFlags));
  if (!source.valid()) return lastError();
  struct stat st {};
  if (::fstat(source.get(), &st) != 0) return lastError();
  if (!S_ISREG(st.st_mode)) return errorFromErrno(EOPNOTSUPP);
  UniqueFd target(::openat(targetParent, targetName.c_str(), O_WRONLY | O_CREAT | O_EXCL | kOpenFlags,
                           st.st_mode & 07777));
  if (!target.valid()) return lastError();
  std::error_code error = copyBytes(source.get(), target.get());
  if (error) ::unlinkat(targetParent, targetName.c_str(), 0);
  return error;
}

std::error_code copyLink(int sourceParent, const std::string& name, int targetParent, const std::string& targetName) {
  std::array<char, 4096> text;
  ssize_t n = ::readlinkat(sourceParent, name.c_str(), text.data(), text.size() - 1);
  if (n < 0) return lastError();
  text[static_cast<size_t>(n)] = '\0';
  return ::symlinkat(text.data(), targetParent, targetName.c_str()) == 0 ? std::error_code() : lastError();
}

std::error_code copyEntryAt(int sourceParent, const std::string& name, int targetParent,
                            const std::string& targetName, int depth);

std::error_code copyFolder(int sourceParent, const std::string& name, int targetParent, const std::string& targetName,
                           mode_t mode, int depth) {
  UniqueFd source(::openat(sourceParent, name.c_str(), O_RDONLY | O_DIRECTORY | kOpenFlags));
  if (!source.valid()) return lastError();
  auto children = listFolder(source.get());
  if (!children) return children.error();
  // Writable while it fills; its own permissions at the end.
  if (::mkdirat(targetParent, targetName.c_str(), 0700) != 0) return lastError();
  std::error_code error;
  UniqueFd target(::openat(targetParent, targetName.c_str(), O_RDONLY | O_DIRECTORY | kOpenFlags));
  if (!target.valid()) error = lastError();
  for (size_t i = 0; !error && i < children->size(); ++i)
    error = copyEntryAt(source.get(), (*children)[i].name, target.get(), (*children)[i].name, depth + 1);
  if (!error && ::fchmod(target.get(), mode & 07777) != 0) error = lastError();
  target.reset();
  if (error) removeEntryAt(targetParent, targetName, 0);
  return error;
}

std::error_code copyEntryAt(int sourceParent, const std::string& name, int targetParent,
                            const std::string& targetName, int depth) {
  if (depth > kMaxTreeDepth) return errorFromErrno(ENAMETOOLONG);
  struct stat st {};
  if (::fstatat(sourceParent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return lastError();
  if (S_ISDIR(st.st_mode)) return copyFolder(sourceParent, name, targetParent, targetName, st.st_mode, depth);
  if (S_ISREG(st.st_mode)) return copyFile(sourceParent, name, targetParent, targetName);
  if (S_ISLNK(st.st_mode)) return copyLink(sourceParent, name, targetParent, targetName);
  return errorFromErrno(EOPNOTSUPP);  // pipes, sockets and devices are not copied
}

}  // namespace

Result<std::vector<FolderChild>> listFolder(int folder) {
  // The stream takes its own descriptor, so the caller's stays usable.
  int own = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
  if (own < 0) return lastError();
  DIR* stream = ::fdopendir(own);
  if (!stream) {
    std::error_code error = lastError();
    ::close(own);
    return error;
  }
  ::rewinddir(stream);
  std::vector<FolderChild> children;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(stream);
    if (!entry) break;
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    children.push_back({entry->d_name, kindOfDirent(::dirfd(stream), *entry)});
  }
  std::error_code error = errno != 0 ? lastError() : std::error_code();
  ::closedir(stream);
  if (error) return error;
  return children;
}

std::error_code removeEntry(int parent, const std::string& name) { return removeEntryAt(parent, name, 0); }

std::error_code copyEntry(int sourceParent, const std::string& name, int targetParent, const std::string& targetName) {
  return copyEntryAt(sourceParent, name, targetParent, targetName, 0);
}

std::error_code moveEntry(int sourceParent, const std::string& name, int targetParent, const std::string& targetName,
                          bool replace) {
  if (::renameat2(sourceParent, name.c_str(), targetParent, targetName.c_str(), replace ? 0 : RENAME_NOREPLACE) == 0)
    return {};
  if (replace || errno != EINVAL) return lastError();
  // File systems without RENAME_NOREPLACE: look, then rename.
  struct stat st {};
  if (::fstatat(targetParent, targetName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return errorFromErrno(EEXIST);
  return ::renameat(sourceParent, name.c_str(), targetParent, targetName.c_str()) == 0 ? std::error_code()
                                                                                        : lastError();
}

}  // namespace tavero::modules::files
