// The root folder of one file system, opened for the length of one
// operation, and the only way the module reaches the entries beneath it.
//
// Every entry is reached from the root's descriptor without following a
// symbolic link anywhere on the way, also one made inside the root by
// another program: with openat2(RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS) where
// the kernel has it (Linux 5.6 and later), otherwise by opening one
// component at a time with O_NOFOLLOW. A link at the end of a path is an
// entry of its own (it can be listed, moved and removed) that is never
// opened through. Entry paths are standardized (EntryPath), so they hold no
// ".." to climb out by.
//
// Thread rules: a RootDirectory belongs to one operation; several may be
// open on the same folder at once.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <system_error>

#include "modules/files/EntryPath.h"
#include "modules/files/Result.h"
#include "modules/files/UniqueFd.h"

namespace tavero::modules::files {

// What an entry is. `other` is anything that is neither a plain file nor a
// folder: a symbolic link, a pipe, a socket or a device.
enum class EntryKind { none, file, folder, other };

class RootDirectory {
 public:
  enum class Resolution {
    automatic,  // openat2 when the kernel has it
    walk,       // always the component walk (lets tests cover it on any kernel)
  };

  // Opens the folder `rootPath`. Its own last component must not be a
  // symbolic link either. When it cannot be opened, every entry reads as
  // missing and every open fails with openError().
  explicit RootDirectory(const std::filesystem::path& rootPath, Resolution resolution = Resolution::automatic);

  bool isOpen() const { return root_.valid(); }
  const std::error_code& openError() const { return openError_; }

  // Opens `entry` with `flags` (O_NOFOLLOW and O_CLOEXEC are added; `mode`
  // counts with O_CREAT only).
  Result<UniqueFd> open(const EntryPath& entry, int flags, mode_t mode = 0) const;
  // The folder holding `entry`, opened as a path (O_PATH), for the *at
  // calls that take entry.name(). REQUIRES: !entry.isRoot(). An entry
  // whose name holds a NUL fails (EINVAL), so no *at call sees a shortened
  // name.
  Result<UniqueFd> openParent(const EntryPath& entry) const;
  EntryKind kindOf(const EntryPath& entry) const;
  bool exists(const EntryPath& entry) const { return kindOf(entry) != EntryKind::none; }

  // True when the kernel offers openat2 (checked once per process).
  static bool openat2Available();

 private:
  Result<UniqueFd> openBeneath(const EntryPath& entry, int flags, mode_t mode) const;
  Result<UniqueFd> openByWalk(const EntryPath& entry, int flags, mode_t mode) const;

  UniqueFd root_;
  std::error_code openError_;
  Resolution resolution_;
};

// The kind of what `st` describes.
EntryKind kindOfStat(mode_t mode);

}  // namespace tavero::modules::files
