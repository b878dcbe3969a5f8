#include "app/NewAppFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tavero::app {
namespace fs = std::filesystem;

namespace {

std::string quoted(const fs::path& path) { return "\"" + path.string() + "\""; }

std::string systemError(const std::string& what, const fs::path& path) {
  return "cannot " + what + " " + quoted(path) + ": " + std::strerror(errno);
}

bool isThere(const fs::path& path) {
  std::error_code ec;
  return fs::symlink_status(path, ec).type() != fs::file_type::not_found;
}

}  // namespace

NewAppFolder::NewAppFolder(fs::path folder) : folder_(std::move(folder)) {}

std::optional<std::string> NewAppFolder::obstacle(const std::vector<File>& files) const {
  std::error_code ec;
  if (isThere(folder_) && !fs::is_directory(folder_, ec)) return quoted(folder_) + " exists and is not a folder";
  for (const auto& file : files) {
    fs::path relative(file.path);
    fs::path inside = folder_;
    for (auto part = relative.begin(); part != relative.end(); ++part) {
      inside /= *part;
      bool last = std::next(part) == relative.end();
      if (last && isThere(inside)) return quoted(inside) + " already exists";
      if (!last && isThere(inside) && !fs::is_directory(inside, ec))
        return quoted(inside) + " exists and is not a folder";
    }
  }
  return std::nullopt;
}

std::optional<std::string> NewAppFolder::write(const std::vector<File>& files) {
  made_.clear();
  std::optional<std::string> failure = makeFolder(folder_);
  for (auto file = files.begin(); !failure && file != files.end(); ++file) {
    failure = makeFolder((folder_ / file->path).parent_path());
    if (!failure) failure = writeFile(*file);
  }
  if (failure) removeWhatWasMade();
  return failure;
}

std::optional<std::string> NewAppFolder::makeFolder(const fs::path& folder) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return std::nullopt;
  if (folder.has_parent_path() && folder.parent_path() != folder) {
    if (auto failure = makeFolder(folder.parent_path())) return failure;
  }
  if (::mkdir(folder.c_str(), 0755) != 0) return systemError("make the folder", folder);
  made_.push_back(folder);
  return std::nullopt;
}

std::optional<std::string> NewAppFolder::writeFile(const File& file) {
  fs::path path = folder_ / file.path;
  // O_EXCL: fails rather than replace a file, and with O_NOFOLLOW never
  // writes through a link either.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, file.executable ? 0755 : 0644);
  if (fd < 0) return systemError("create", path);
  made_.push_back(path);
  size_t written = 0;
  while (written < file.text.size()) {
    ssize_t n = ::write(fd, file.text.data() + written, file.text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int error = errno;
      ::close(fd);
      errno = error;
      return systemError("write", path);
    }
    written += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) return systemError("write", path);
  return std::nullopt;
}

void NewAppFolder::removeWhatWasMade() {
  for (auto path = made_.rbegin(); path != made_.rend(); ++path) {
    std::error_code ec;
    fs::remove(*path, ec);  // a folder only while empty: never what someone else put there
  }
  made_.clear();
}

}  // namespace tavero::app
