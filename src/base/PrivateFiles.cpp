#include "base/PrivateFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tavero::base {
namespace fs = std::filesystem;

namespace {

constexpr mode_t kOthersBits = 077;
// Each level holds one descriptor open; deeper trees are reported, not walked.
constexpr int kMaxDepth = 128;

std::error_code lastError() { return {errno, std::generic_category()}; }

void noteError(PrivacyRepair& repair, const fs::path& path, const std::string& what, int error) {
  repair.errors.push_back(what + " " + path.string() + ": " + std::strerror(error));
}

void makeTreePrivate(int folder, const fs::path& path, int depth, PrivacyRepair& repair);

void makeEntryPrivate(int parent, const fs::path& parentPath, const char* name, int depth, PrivacyRepair& repair) {
  const fs::path path = parentPath / name;
  struct stat st {};
  if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return noteError(repair, path, "cannot read", errno);
  if (S_ISLNK(st.st_mode)) return;
  if (S_ISDIR(st.st_mode)) {
    if (depth + 1 >= kMaxDepth) return noteError(repair, path, "too deep to walk", ELOOP);
    int folder = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) return noteError(repair, path, "cannot open", errno);
    makeTreePrivate(folder, path, depth + 1, repair);
    ::close(folder);
    return;
  }
  if ((st.st_mode & kOthersBits) == 0) return;
  // The parent is private already: nobody else can replace `name` by now.
  if (::fchmodat(parent, name, st.st_mode & 07700, 0) != 0) return noteError(repair, path, "cannot change", errno);
  ++repair.files;
}

// `folder` stays open: the caller closes it.
void makeTreePrivate(int folder, const fs::path& path, int depth, PrivacyRepair& repair) {
  struct stat st {};
  if (::fstat(folder, &st) != 0) return noteError(repair, path, "cannot read", errno);
  if ((st.st_mode & kOthersBits) != 0) {
    if (::fchmod(folder, st.st_mode & 07700) != 0) return noteError(repair, path, "cannot change", errno);
    ++repair.folders;
  }
  if (depth >= kMaxDepth) return;
  int listing = ::dup(folder);
  DIR* entries = listing < 0 ? nullptr : ::fdopendir(listing);
  if (!entries) {
    if (listing >= 0) ::close(listing);
    return noteError(repair, path, "cannot list", errno);
  }
  while (dirent* entry = ::readdir(entries)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    makeEntryPrivate(folder, path, entry->d_name, depth, repair);
  }
  ::closedir(entries);
}

}  // namespace

std::error_code createPrivateFolders(const fs::path& folder) {
  fs::path made;
  for (const fs::path& part : folder) {
    made /= part;
    if (::mkdir(made.c_str(), 0700) == 0) {
      if (::chmod(made.c_str(), 0700) != 0) return lastError();  // a umask may have taken owner bits
    } else if (errno != EEXIST) {
      return lastError();
    }
  }
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return ec ? ec : std::make_error_code(std::errc::not_a_directory);
  return {};
}

std::error_code createPrivateFile(const fs::path& file) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST ? std::error_code() : lastError();
  std::error_code ec;
  if (::fchmod(fd, 0600) != 0) ec = lastError();
  ::close(fd);
  return ec;
}

void addRepair(PrivacyRepair& total, const PrivacyRepair& part) {
  total.folders += part.folders;
  total.files += part.files;
  total.errors.insert(total.errors.end(), part.errors.begin(), part.errors.end());
}

PrivacyRepair makePrivate(const fs::path& root, Reach reach) {
  PrivacyRepair repair;
  int folder = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) {
    // Not a folder (a file, or a link, which is left alone).
    if (errno == ENOTDIR || errno == ELOOP)
      makeEntryPrivate(AT_FDCWD, fs::path(), root.c_str(), 0, repair);
    else if (errno != ENOENT)
      noteError(repair, root, "cannot open", errno);
    return repair;
  }
  makeTreePrivate(folder, root, reach == Reach::justRoot ? kMaxDepth : 0, repair);
  ::close(folder);
  return repair;
}

}  // namespace tavero::base
