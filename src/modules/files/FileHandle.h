// One plain file of a file system, open for the length of one request.
// Reads and writes name their byte position; the handle keeps none.
//
// Only plain files open: a folder, a symbolic link, a pipe or a device
// fails, so a request never blocks on a pipe or reads a folder. The handle
// holds its file's lock (FileLocks) from opening to destruction: shared for
// reading, alone for writing.
//
// Thread rules: one request's handle belongs to that request.
#pragma once

#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <system_error>

#include "modules/files/FileLocks.h"
#include "modules/files/Result.h"
#include "modules/files/RootDirectory.h"
#include "modules/files/UniqueFd.h"

namespace tavero::modules::files {

class FileHandle {
 public:
  enum class Access { reading, writing };

  // No read answers more than this many bytes (it must fit in one callback
  // script); a longer stretch fails with EFBIG.
  static constexpr uint64_t kMaxReadBytes = 256ull << 20;

  static Result<FileHandle> open(const RootDirectory& root, const EntryPath& entry, Access access, FileLocks& locks);

  FileHandle(FileHandle&&) = default;
  FileHandle& operator=(FileHandle&&) = default;

  // The file's length in bytes.
  Result<uint64_t> length() const;
  // Up to `count` bytes from `position`, fewer where the file ends.
  Result<std::string> readAt(uint64_t position, uint64_t count) const;
  // Writes all of `bytes` at `position`; a write the system cannot finish
  // (disk full, file too large) fails, even when part of it was written.
  std::error_code writeAt(uint64_t position, std::string_view bytes) const;
  // Cuts or extends (with zero bytes) the file to `size` bytes.
  std::error_code truncate(int64_t size) const;

 private:
  explicit FileHandle(UniqueFd fd) : fd_(std::move(fd)) {}

  UniqueFd fd_;
  std::shared_lock<std::shared_mutex> readLock_;
  std::unique_lock<std::shared_mutex> writeLock_;
};

}  // namespace tavero::modules::files
