#include "platform/linux/XAuthorityFile.h"

#include <X11/Xauth.h>
#include <fcntl.h>
#include <sys/random.h>
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

std::optional<fs::path> makePrivateFolder() {
  const char* tmp = std::getenv("TMPDIR");
  fs::path base = tmp && tmp[0] == '/' ? fs::path(tmp) : fs::path("/tmp");
  std::string pattern = (base / "tavero-display-XXXXXX").string();
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
