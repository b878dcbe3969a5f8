#include "platform/linux/XvfbDisplay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

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
    int ready = ::poll(&waiting, 1, kStartTimeoutMs);
    if (ready < 0 && errno == EINTR) continue;  // a caught signal; the caller decides what it means
    if (ready <= 0) break;
    ssize_t got = ::read(fd, &c, 1);
    if (got <= 0) break;
    text += c;
  }
  return text;
}

// The program's full path, looked up in PATH before forking: between fork
// and exec only async-signal-safe calls are allowed.
std::optional<std::string> findProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string folder = folders.substr(start, end - start);
    std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + name;
    std::error_code ec;
    if (::access(candidate.c_str(), X_OK) == 0 && !std::filesystem::is_directory(candidate, ec)) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

// In the child, between fork and exec: async-signal-safe calls only.
[[noreturn]] void execXvfb(const char* program, char* const argv[], int displayWriteFd, pid_t parent) {
  // Ends with the thread that started it, however that ends; and if that
  // already happened before this line, ends now.
  if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent) _exit(127);
  // A group of its own: a terminal's Ctrl-C is for the shell, which stops
  // the display itself once it has saved what it must.
  ::setpgid(0, 0);
  // The shell may block or catch signals; Xvfb starts with the defaults.
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(sig, SIG_DFL);

  if (::dup2(displayWriteFd, kDisplayFd) < 0) _exit(127);  // dup2 clears close-on-exec
  // Xvfb reports every display number it finds taken on its way to a free one.
  int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devNull >= 0) ::dup2(devNull, STDERR_FILENO);
  ::execve(program, argv, environ);
  _exit(127);
}

}  // namespace

std::variant<std::unique_ptr<XvfbDisplay>, std::string> XvfbDisplay::start() {
  auto program = findProgram("Xvfb");
  if (!program) return std::string("cannot start Xvfb (not found in PATH); install the xvfb package");
  auto authority = XAuthorityFile::create();
  if (auto* error = std::get_if<std::string>(&authority)) return *error;
  auto& authorityFile = std::get<std::unique_ptr<XAuthorityFile>>(authority);
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::string("cannot make a pipe: ") + std::strerror(errno);

  std::vector<std::string> args = {"Xvfb", "-displayfd", std::to_string(kDisplayFd), "-screen", "0",
                                   "1280x800x24", "-nolisten", "tcp",
                                   "-auth", authorityFile->path().string()};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) execXvfb(program->c_str(), argv.data(), fds[1], parent);
  int forkError = errno;
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    return std::string("cannot start Xvfb: ") + std::strerror(forkError);
  }
  // Also from here, so the group exists before anyone could signal it.
  ::setpgid(pid, pid);

  std::string number = readLine(fds[0]);
  ::close(fds[0]);
  while (!number.empty() && (number.back() == '\n' || number.back() == '\r')) number.pop_back();
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    return std::string("Xvfb did not report a display");
  }
  return std::unique_ptr<XvfbDisplay>(new XvfbDisplay(pid, ":" + number, std::move(authorityFile)));
}

void XvfbDisplay::makeDefault() const {
  ::setenv("DISPLAY", display_.c_str(), 1);
  ::setenv("XAUTHORITY", authority_->path().c_str(), 1);
  ::setenv("GDK_BACKEND", "x11", 1);
}

XvfbDisplay::~XvfbDisplay() {
  ::kill(pid_, SIGTERM);
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace tavero::platform
