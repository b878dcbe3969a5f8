#include "webextension/ShellSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace tavero::webextension {

ShellSocket::ShellSocket(std::string socketPath, std::string token)
    : socketPath_(std::move(socketPath)), token_(std::move(token)) {}

ShellSocket::~ShellSocket() {
  if (fd_ >= 0) ::close(fd_);
}

void ShellSocket::fail() {
  if (failure_.empty()) failure_ = errno ? std::strerror(errno) : kClosedByShell;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  failed_ = true;
}

bool ShellSocket::ensureConnected() {
  if (fd_ >= 0) return true;
  if (failed_) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath_.empty() || socketPath_.size() >= sizeof(address.sun_path)) {
    errno = ENAMETOOLONG;
    fail();
    return false;
  }
  std::memcpy(address.sun_path, socketPath_.data(), socketPath_.size());
  // Non-blocking, so that reading what is there never waits; writes and
  // blocking reads wait with poll.
  errno = 0;
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    fail();
    return false;
  }
  return write(0, wire::MessageFrame::kHelloTag, token_);
}

bool ShellSocket::write(uint32_t id, uint32_t tag, std::string_view body) {
  if (fd_ < 0 || body.size() > wire::MessageFrame::kMaxBodySize) return false;
  const std::string bytes = wire::MessageFrame::encode(id, tag, body);
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t count = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count > 0) {
      sent += static_cast<size_t>(count);
    } else if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
      errno = 0;
      pollfd waiting{.fd = fd_, .events = POLLOUT, .revents = 0};
      ::poll(&waiting, 1, -1);
    } else {
      fail();
      return false;
    }
  }
  return true;
}

bool ShellSocket::readAvailable(std::vector<wire::MessageFrame>& frames) {
  if (fd_ < 0) return false;
  char buffer[64 * 1024];
  for (;;) {
    ssize_t count = ::recv(fd_, buffer, sizeof(buffer), 0);
    if (count > 0) {
      reader_.append(std::string_view(buffer, static_cast<size_t>(count)));
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    const bool open = count < 0 && errno == EAGAIN;
    if (count == 0) errno = 0;  // the shell closed it
    while (auto frame = reader_.next()) frames.push_back(std::move(*frame));
    if (!open || reader_.broken()) {
      fail();
      return false;
    }
    return true;
  }
}

std::optional<wire::MessageFrame> ShellSocket::read() {
  for (;;) {
    if (auto frame = reader_.next()) return frame;
    if (fd_ < 0 || reader_.broken()) break;
    pollfd waiting{.fd = fd_, .events = POLLIN, .revents = 0};
    if (::poll(&waiting, 1, -1) < 0 && errno != EINTR) break;
    char buffer[64 * 1024];
    ssize_t count = ::recv(fd_, buffer, sizeof(buffer), 0);
    if (count > 0) {
      reader_.append(std::string_view(buffer, static_cast<size_t>(count)));
    } else if (count == 0) {
      errno = 0;  // the shell closed it
      break;
    } else if (errno != EAGAIN && errno != EINTR) {
      break;
    }
  }
  fail();
  return std::nullopt;
}

}  // namespace tavero::webextension
