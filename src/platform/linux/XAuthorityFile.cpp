#include "platform/linux/XAuthorityFile.h"

#include <X11/Xauth.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace tavero::platform {
namespace fs = std::filesystem;

namespace {

constexpr char kCookieName[] = "MIT-MAGIC-COOKIE-1";

std::string failure(const std::string& step, int error) { return step + ": " + std::strerror(error); }

std::optional<std::array<char, XAuthorityFile::kCookieBytes>> randomCookie() {
  std::array<char, XAuthorityFile::kCookieBytes> cookie{};
  size_t filled = 0;
  while (filled < cookie.size()) {
    ssize_t got = ::getrandom(cookie.data() + filled, cookie.size() - filled, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    filled += static_cast<size_t>(got);
  }
  return cookie;
}

constexpr char kFolderPrefix[] = "tavero-display-";

fs::path temporaryBase() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && tmp[0] == '/' ? fs::path(tmp) : fs::path("/tmp");
}

// The process a folder "tavero-display-<pid>-XXXXXX" was made for.
std::optional<pid_t> folderProcess(const std::string& name) {
  if (!name.starts_with(kFolderPrefix)) return std::nullopt;
  const char* digits = name.c_str() + sizeof kFolderPrefix - 1;
  char* end = nullptr;
  long pid = std::strtol(digits, &end, 10);
  if (end == digits || *end != '-' || pid <= 0) return std::nullopt;
  return static_cast<pid_t>(pid);
}

// Removes the folders this user's killed runs left behind. Only real
// folders owned by this user, whose process is gone, and only the file
// this class writes in them: the base is shared with every other user.
void removeLeftovers(const fs::path& base) {
  int baseFd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (baseFd < 0) return;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(base, ec)) {
    const std::string name = entry.path().filename().string();
    auto pid = folderProcess(name);
    struct stat st {};
    if (!pid || ::fstatat(baseFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) continue;
    if (::kill(*pid, 0) == 0 || errno != ESRCH) continue;
    int folder = ::openat(baseFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) continue;
    ::unlinkat(folder, XAuthorityFile::kFileName, 0);
    ::close(folder);
    ::unlinkat(baseFd, name.c_str(), AT_REMOVEDIR);  // fails, harmlessly, if anything else is in it
  }
  ::close(baseFd);
}

std::optional<fs::path> makePrivateFolder() {
  const fs::path base = temporaryBase();
  removeLeftovers(base);
  std::string pattern = (base / (kFolderPrefix + std::to_string(::getpid()) + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) return std::nullopt;  // mkdtemp makes it 0700
  return fs::path(pattern);
}

// One entry for every display of this machine: FamilyWild with an empty
// address and display number.
std::optional<std::string> writeEntry(const fs::path& file, std::array<char, XAuthorityFile::kCookieBytes>& cookie) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return failure("cannot create " + file.string(), errno);
  FILE* out = ::fdopen(fd, "wb");
  if (!out) {
    int error = errno;
    ::close(fd);
    return failure("cannot write " + file.string(), error);
  }
  Xauth entry{};
  entry.family = FamilyWild;
  entry.address = const_cast<char*>("");
  entry.number = const_cast<char*>("");
  entry.name = const_cast<char*>(kCookieName);
  entry.name_length = sizeof kCookieName - 1;
  entry.data = cookie.data();
  entry.data_length = static_cast<unsigned short>(cookie.size());
  bool written = XauWriteAuth(out, &entry) == 1 && std::fflush(out) == 0 && ::fsync(fd) == 0;
  int error = errno;
  bool closed = std::fclose(out) == 0;
  if (!closed && written) error = errno;
  if (!written || !closed) return failure("cannot write " + file.string(), error);
  return std::nullopt;
}

}  // namespace

std::variant<std::unique_ptr<XAuthorityFile>, std::string> XAuthorityFile::create() {
  auto cookie = randomCookie();
  if (!cookie) return failure("cannot make a cookie for the display (getrandom)", errno);
  auto folder = makePrivateFolder();
  if (!folder) return failure("cannot make a private folder for the display's X authority file", errno);
  std::unique_ptr<XAuthorityFile> file(new XAuthorityFile(*folder));  // removes the folder on failure too
  auto error = writeEntry(file->path(), *cookie);
  std::memset(cookie->data(), 0, cookie->size());
  if (error) return *error;
  return file;
}

XAuthorityFile::~XAuthorityFile() {
  std::error_code ec;
  fs::remove(path_, ec);
  fs::remove(folder_, ec);
}

}  // namespace tavero::platform
