#include "platform/linux/XvfbDisplay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace tavero::platform {
namespace {

constexpr int kDisplayFd = 3;          // where Xvfb writes its display number
constexpr int kStartTimeoutMs = 10000;

std::string readLine(int fd) {
  std::string text;
  char c;
  while (text.find('\n') == std::string::npos) {
    pollfd waiting{fd, POLLIN, 0};
    if (::poll(&waiting, 1, kStartTimeoutMs) <= 0) break;
    ssize_t got = ::read(fd, &c, 1);
    if (got <= 0) break;
    text += c;
  }
  return text;
}

}  // namespace

std::variant<std::unique_ptr<XvfbDisplay>, std::string> XvfbDisplay::start() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::string("cannot make a pipe: ") + std::strerror(errno);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], kDisplayFd);
  // Xvfb reports every display number it finds taken on its way to a free one.
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const char* argv[] = {"Xvfb", "-displayfd", "3", "-screen", "0", "1280x800x24", "-nolisten", "tcp", nullptr};
  pid_t pid = 0;
  int spawned = posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (spawned != 0) {
    ::close(fds[0]);
    return std::string("cannot start Xvfb (") + std::strerror(spawned) + "); install the xvfb package";
  }
  std::string number = readLine(fds[0]);
  ::close(fds[0]);
  while (!number.empty() && (number.back() == '\n' || number.back() == '\r')) number.pop_back();
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    return std::string("Xvfb did not report a display");
  }
  return std::unique_ptr<XvfbDisplay>(new XvfbDisplay(pid, ":" + number));
}

XvfbDisplay::~XvfbDisplay() {
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
}

}  // namespace tavero::platform
