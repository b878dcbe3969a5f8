#include "base/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <vector>

#include "base/PrivateFiles.h"
#include "log/Log.h"

namespace tavero::base {
namespace {

namespace fs = std::filesystem;

std::atomic<FileWriteCalls*> replacedCalls{nullptr};

FileWriteCalls& calls() {
  static FileWriteCalls system;
  FileWriteCalls* replaced = replacedCalls.load();
  return replaced ? *replaced : system;
}

std::string failure(std::string_view step, const fs::path& path, int error) {
  return std::string(step) + " " + path.string() + ": " + std::strerror(error);
}

bool writeAll(int fd, std::string_view content) {
  while (!content.empty()) {
    ssize_t written = calls().write(fd, content.data(), content.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    content.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// Temporary files of writers that died (other than ours, which is in use).
void removeLeftovers(const fs::path& file, const fs::path& ours) {
  std::error_code ec;
  const std::string prefix = file.filename().string() + ".tmp-";
  for (fs::directory_iterator it(file.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.starts_with(prefix) && it->path() != ours) fs::remove(it->path(), ec);
  }
}

}  // namespace

ssize_t FileWriteCalls::write(int fd, const void* data, size_t size) { return ::write(fd, data, size); }
int FileWriteCalls::fsync(int fd) { return ::fsync(fd); }
int FileWriteCalls::rename(const char* from, const char* to) { return ::rename(from, to); }

FileWriteCalls* useFileWriteCalls(FileWriteCalls* replacement) { return replacedCalls.exchange(replacement); }

std::optional<std::string> writeFileAtomically(const fs::path& file, std::string_view content, mode_t mode) {
  const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
  createPrivateFolders(folder);  // a failure shows in the open below
  fs::path temporary = file;
  temporary += ".tmp-" + std::to_string(::getpid());
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return failure("cannot create", temporary, errno);
  // A leftover of a crashed writer keeps its old mode through O_TRUNC, and
  // the umask narrows a new file's.
  if (::fchmod(fd, mode) != 0) {
    int error = errno;
    ::close(fd);
    ::unlink(temporary.c_str());
    return failure("cannot protect", temporary, error);
  }
  if (!writeAll(fd, content) || calls().fsync(fd) != 0) {
    int error = errno;
    ::close(fd);
    ::unlink(temporary.c_str());
    return failure("cannot write", temporary, error);
  }
  if (::close(fd) != 0) {
    int error = errno;
    ::unlink(temporary.c_str());
    return failure("cannot write", temporary, error);
  }
  if (calls().rename(temporary.c_str(), file.c_str()) != 0) {
    int error = errno;
    ::unlink(temporary.c_str());
    return failure("cannot replace", file, error);
  }
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    calls().fsync(dir);
    ::close(dir);
  }
  removeLeftovers(file, temporary);
  return std::nullopt;
}

int removeInterruptedWrites(const fs::path& folder, std::string_view namePrefix) {
  std::error_code ec;
  std::vector<fs::path> leftovers;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const size_t mark = name.rfind(".tmp-");
    if (mark == std::string::npos || mark == 0 || !name.starts_with(namePrefix)) continue;
    const char* digits = name.data() + mark + 5;
    const char* last = name.data() + name.size();
    long pid = 0;
    auto [stop, error] = std::from_chars(digits, last, pid);
    if (error != std::errc() || stop != last || stop == digits || pid <= 0) continue;
    std::error_code type;
    if (!it->is_regular_file(type)) continue;
    bool alive = pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
    if (!alive) leftovers.push_back(it->path());
  }
  int removed = 0;
  for (const fs::path& leftover : leftovers) {
    std::error_code failed;
    if (fs::remove(leftover, failed)) {
      ++removed;
      log::info("removed " + leftover.string() + ", the unfinished write of an interrupted run");
    } else if (failed) {
      log::warning("could not remove the leftover " + leftover.string() + ": " + failed.message());
    }
  }
  return removed;
}

}  // namespace tavero::base
