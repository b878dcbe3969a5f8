#include "modules/files/FileHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <string>

#include "log/Log.h"

namespace tavero::modules::files {

Result<FileHandle> FileHandle::open(const RootDirectory& root, const EntryPath& entry, Access access,
                                    FileLocks& locks) {
  // O_NONBLOCK: opening a pipe for reading would otherwise wait for a writer.
  int flags = (access == Access::reading ? O_RDONLY : O_WRONLY) | O_NONBLOCK;
  auto fd = root.open(entry, flags);
  if (!fd) return fd.error();
  struct stat st {};
  if (::fstat(fd->get(), &st) != 0) return Result<FileHandle>::fromErrno();
  if (S_ISDIR(st.st_mode)) return errorFromErrno(EISDIR);
  if (!S_ISREG(st.st_mode)) return errorFromErrno(EINVAL);
  if (st.st_nlink > 1) {
    // The module never makes hard links: another program linked a file
    // into the root, and it may be one from outside the root.
    log::warning("files: refused to open " + entry.text() + ": it has " + std::to_string(st.st_nlink) +
                 " hard links, and a file linked into the root may live outside it");
    return errorFromErrno(EMLINK);
  }
  // Back to blocking I/O for the plain file itself.
  if (::fcntl(fd->get(), F_SETFL, 0) != 0) return Result<FileHandle>::fromErrno();

  FileHandle handle(std::move(*fd));
  std::shared_mutex& lock = locks.lockFor(st.st_dev, st.st_ino);
  if (access == Access::reading)
    handle.readLock_ = std::shared_lock(lock);
  else
    handle.writeLock_ = std::unique_lock(lock);
  return handle;
}

Result<uint64_t> FileHandle::length() const {
  struct stat st {};
  if (::fstat(fd_.get(), &st) != 0) return Result<uint64_t>::fromErrno();
  return static_cast<uint64_t>(st.st_size);
}

Result<std::string> FileHandle::readAt(uint64_t position, uint64_t count) const {
  if (position > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return std::string();
  auto size = length();
  if (!size) return size.error();
  const uint64_t expected = *size > position ? std::min(count, *size - position) : 0;
  if (expected > kMaxReadBytes) return errorFromErrno(EFBIG);
  // Reads into the answer itself: what the file's length promises at once,
  // then more in steps should the file grow meanwhile.
  constexpr uint64_t kStep = 64 * 1024;
  std::string bytes;
  while (bytes.size() < count) {
    uint64_t want = std::min(count - bytes.size(), std::max(expected - std::min<uint64_t>(expected, bytes.size()), kStep));
    want = std::min(want, kMaxReadBytes + 1 - bytes.size());
    size_t before = bytes.size();
    bytes.resize(before + static_cast<size_t>(want));
    ssize_t n = ::pread(fd_.get(), bytes.data() + before, static_cast<size_t>(want), static_cast<off_t>(position + before));
    int error = errno;
    bytes.resize(before + static_cast<size_t>(std::max<ssize_t>(n, 0)));
    if (n < 0 && error == EINTR) continue;
    if (n < 0) return errorFromErrno(error);
    if (n == 0) break;
    if (bytes.size() > kMaxReadBytes) return errorFromErrno(EFBIG);
  }
  return bytes;
}

std::error_code FileHandle::writeAt(uint64_t position, std::string_view bytes) const {
  size_t written = 0;
  while (written < bytes.size()) {
    if (position + written > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return errorFromErrno(EFBIG);
    ssize_t n = ::pwrite(fd_.get(), bytes.data() + written, bytes.size() - written,
                         static_cast<off_t>(position + written));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errorFromErrno(errno);
    if (n == 0) return errorFromErrno(EIO);
    written += static_cast<size_t>(n);
  }
  return {};
}

std::error_code FileHandle::truncate(int64_t size) const {
  if (size < 0) return errorFromErrno(EINVAL);
  while (::ftruncate(fd_.get(), static_cast<off_t>(size)) != 0)
    if (errno != EINTR) return errorFromErrno(errno);
  return {};
}

}  // namespace tavero::modules::files
