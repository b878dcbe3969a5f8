#include "control/UnixSocketPath.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace tavero::control {

std::optional<UnixSocketPath> UnixSocketPath::forPath(const std::filesystem::path& path) {
  if (path.native().size() <= kMaxAddressLength) return UnixSocketPath(path.native(), -1);
  std::filesystem::path folder = path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
  int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  return UnixSocketPath("/proc/self/fd/" + std::to_string(fd) + "/" + path.filename().string(), fd);
}

UnixSocketPath::UnixSocketPath(UnixSocketPath&& other) noexcept
    : address_(std::move(other.address_)), folder_(other.folder_) {
  other.folder_ = -1;
}

UnixSocketPath& UnixSocketPath::operator=(UnixSocketPath&& other) noexcept {
  if (this != &other) {
    if (folder_ >= 0) ::close(folder_);
    address_ = std::move(other.address_);
    folder_ = other.folder_;
    other.folder_ = -1;
  }
  return *this;
}

UnixSocketPath::~UnixSocketPath() {
  if (folder_ >= 0) ::close(folder_);
}

std::optional<sockaddr_un> unixSocketAddress(std::string_view address) {
  if (address.empty() || address.size() > UnixSocketPath::kMaxAddressLength ||
      address.find('\0') != std::string_view::npos)
    return std::nullopt;
  sockaddr_un socketAddress{};
  socketAddress.sun_family = AF_UNIX;
  std::memcpy(socketAddress.sun_path, address.data(), address.size());  // the rest stays zero
  return socketAddress;
}

}  // namespace tavero::control
