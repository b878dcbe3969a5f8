// Locks that keep requests on one file apart: a write or truncate holds its
// file's lock alone, reads share it. Two writes to one file from concurrent
// requests therefore never interleave, and a read never sees half of one
// write. Files are told apart by device and inode, so two paths to one file
// share its lock; a few unrelated files may share one too, which only makes
// them wait for each other.
//
// Thread rules: any thread.
#pragma once

#include <sys/types.h>

#include <array>
#include <shared_mutex>

namespace tavero::modules::files {

class FileLocks {
 public:
  std::shared_mutex& lockFor(dev_t device, ino_t inode);

 private:
  std::array<std::shared_mutex, 64> stripes_;
};

}  // namespace tavero::modules::files
