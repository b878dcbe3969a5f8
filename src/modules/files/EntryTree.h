// Whole-entry operations on the descriptors a RootDirectory hands out:
// listing a folder, removing, copying and moving entries. Entries are named
// by a folder descriptor and a single component, and nothing here follows a
// symbolic link: a link is listed, removed, copied and moved as the link
// itself.
//
// Thread rules: any thread; entries that other requests change meanwhile
// give the operating system's errors, never a step outside the tree.
#pragma once

#include <string>
#include <system_error>
#include <vector>

#include "modules/files/Result.h"
#include "modules/files/RootDirectory.h"

namespace tavero::modules::files {

struct FolderChild {
  std::string name;
  EntryKind kind;
};

// Removing or copying a tree deeper than this fails (ENAMETOOLONG), so a
// walk's descriptors (two per level for a copy) and stack stay bounded;
// such a tree can still be taken apart from below.
inline constexpr int kMaxTreeDepth = 256;

// The children of the folder `folder` (a descriptor opened for reading),
// in the order the file system lists them, without "." and "..".
Result<std::vector<FolderChild>> listFolder(int folder);

// Removes `name` in `parent`, with everything inside when it is a folder.
std::error_code removeEntry(int parent, const std::string& name);

// Copies `name` in `sourceParent` to `targetName` in `targetParent`, which
// must not exist yet. Folders are copied whole; permission bits are kept.
// On failure, what was copied so far is removed again.
std::error_code copyEntry(int sourceParent, const std::string& name, int targetParent, const std::string& targetName);

// Renames `name` in `sourceParent` to `targetName` in `targetParent`.
// `replace`: an existing file, or an empty folder, at the target is
// replaced in the same step; otherwise an existing target fails (EEXIST).
std::error_code moveEntry(int sourceParent, const std::string& name, int targetParent, const std::string& targetName,
                          bool replace);

}  // namespace tavero::modules::files
