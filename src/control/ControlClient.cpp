#include "control/ControlClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "control/ControlProtocol.h"
#include "control/UnixSocketPath.h"

namespace tavero::control {

std::variant<ControlClient, std::string> ControlClient::connect(const std::filesystem::path& socketPath) {
  auto address = UnixSocketPath::forPath(socketPath);
  if (!address) {
    return "no app is running with the home " + socketPath.parent_path().string() + " (the folder cannot be opened: " +
           std::strerror(errno) + ")";
  }
  auto socketAddress = unixSocketAddress(address->address());
  if (!socketAddress) return "the control socket's name is too long: " + socketPath.string();
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::string("cannot make a socket: ") + std::strerror(errno);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&*socketAddress), sizeof *socketAddress) == 0) return ControlClient(fd);
  int error = errno;
  ::close(fd);
  std::string home = socketPath.parent_path().string();
  switch (error) {
    case ENOENT:
      return "no app is running with the home " + home + " (it has no control socket)";
    case ECONNREFUSED:
      return "no app is running with the home " + home + " (its control socket was left by a shell that ended)";
    case EACCES:
    case EPERM:
      return "not allowed to use the control socket " + socketPath.string();
    default:
      return "cannot reach the app with the home " + home + ": " + std::strerror(error);
  }
}

ControlClient::ControlClient(ControlClient&& other) noexcept : fd_(other.fd_), buffer_(std::move(other.buffer_)) {
  other.fd_ = -1;
}

ControlClient& ControlClient::operator=(ControlClient&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    buffer_ = std::move(other.buffer_);
    other.fd_ = -1;
  }
  return *this;
}

ControlClient::~ControlClient() {
  if (fd_ >= 0) ::close(fd_);
}

bool ControlClient::sendRaw(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

ControlClient::ReadResult ControlClient::readAnswerLine(std::string& line, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      return ReadResult::Line;
    }
    if (buffer_.size() > kMaxAnswerLength) return ReadResult::TooLong;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return ReadResult::TimedOut;
    pollfd waitFor{fd_, POLLIN, 0};
    int ready = ::poll(&waitFor, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return ReadResult::Failed;
    if (ready == 0) return ReadResult::TimedOut;
    char chunk[65536];
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ReadResult::Failed;
    if (n == 0) return ReadResult::Closed;
    buffer_.append(chunk, static_cast<size_t>(n));
  }
}

std::string ControlClient::readLine(std::chrono::milliseconds timeout) {
  std::string line;
  return readAnswerLine(line, timeout) == ReadResult::Line ? line : std::string();
}

ControlAnswer ControlClient::request(const std::vector<std::string>& words, std::chrono::milliseconds timeout) {
  if (fd_ < 0 || !sendRaw(requestLine(words))) return ControlAnswer::error("the app closed the control connection");
  std::string line;
  switch (readAnswerLine(line, timeout)) {
    case ReadResult::Line:
      return parseAnswerLine(line);
    case ReadResult::Closed:
      return ControlAnswer::error("the app closed the control connection without answering");
    case ReadResult::TimedOut:
      return ControlAnswer::error("the app did not answer within " +
                                  std::to_string(std::chrono::duration_cast<std::chrono::seconds>(timeout).count()) +
                                  " s (is its main thread busy?)");
    case ReadResult::TooLong:
      return ControlAnswer::error("the app's answer is too long");
    case ReadResult::Failed:
      break;
  }
  return ControlAnswer::error(std::string("reading the app's answer failed: ") + std::strerror(errno));
}

ControlAnswer ControlClient::send(const std::filesystem::path& socketPath, const std::vector<std::string>& words,
                                  std::chrono::milliseconds timeout) {
  auto client = connect(socketPath);
  if (auto* error = std::get_if<std::string>(&client)) return ControlAnswer::error(*error);
  return std::get<ControlClient>(client).request(words, timeout);
}

}  // namespace tavero::control
