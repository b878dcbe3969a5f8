#include "modules/files/CopyStaging.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "log/Log.h"
#include "modules/files/EntryTree.h"

namespace tavero::modules::files {

Result<UniqueFd> CopyStaging::openFolder(bool create) {
  if (create && ::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) return Result<UniqueFd>::fromErrno();
  int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  return fd >= 0 ? Result<UniqueFd>(UniqueFd(fd)) : Result<UniqueFd>::fromErrno();
}

std::error_code CopyStaging::copy(int sourceParent, const std::string& name, int targetParent,
                                  const std::string& targetName, bool replace) {
  auto staging = openFolder(true);
  if (!staging) {
    log::warning("files: no folder for copies at " + folder_.string() + ": " + staging.error().message());
    return staging.error();
  }
  const std::string temporary = std::to_string(::getpid()) + "-" + std::to_string(++lastCopyUid_);
  if (auto error = copyEntry(sourceParent, name, staging->get(), temporary)) return error;
  std::error_code error = moveEntry(staging->get(), temporary, targetParent, targetName, replace);
  if (error) removeEntry(staging->get(), temporary);
  return error;
}

void CopyStaging::removeLeftovers() {
  auto staging = openFolder(false);
  if (!staging) return;
  auto children = listFolder(staging->get());
  if (!children) return;
  for (const FolderChild& child : *children) {
    pid_t pid = 0;
    auto [end, error] = std::from_chars(child.name.data(), child.name.data() + child.name.size(), pid);
    if (error != std::errc() || *end != '-' || pid <= 0) continue;
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;  // still running (or not ours to ask)
    if (auto failed = removeEntry(staging->get(), child.name))
      log::warning("files: could not remove the unfinished copy " + child.name + ": " + failed.message());
  }
}

}  // namespace tavero::modules::files
