#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace tavero::testing {
namespace {

int remainingMs(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<long long>(0, left.count()));
}

// glibc's <sys/pidfd.h> lacks C linkage in C++ on this system.
int pidfd_open(pid_t pid, unsigned int flags) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, flags)); }

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, Options options) {
  const bool keepStdout = options.keepStdout;
  ownProcessGroup_ = options.ownProcessGroup;
  int errPipe[2];
  int outPipe[2] = {-1, -1};
  if (::pipe2(errPipe, O_CLOEXEC) != 0) return;
  if (keepStdout && ::pipe2(outPipe, O_CLOEXEC) != 0) {
    ::close(errPipe[0]);
    ::close(errPipe[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  if (keepStdout)
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);

  std::vector<std::string> envText;
  for (char** variable = environ; *variable; ++variable) envText.emplace_back(*variable);
  for (auto& added : options.environment) envText.push_back(std::move(added));
  std::vector<char*> envp;
  for (auto& text : envText) envp.push_back(text.data());
  envp.push_back(nullptr);
  std::vector<char*> args;
  for (auto& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (options.ownProcessGroup) {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  if (posix_spawn(&pid_, args[0], &actions, &attributes, args.data(), envp.data()) != 0) pid_ = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(errPipe[1]);
  stderrFd_ = errPipe[0];
  if (keepStdout) {
    ::close(outPipe[1]);
    stdoutFd_ = outPipe[0];
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) {
    ::kill(ownProcessGroup_ ? -pid_ : pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (stderrFd_ >= 0) ::close(stderrFd_);
  if (stdoutFd_ >= 0) ::close(stdoutFd_);
}

bool ChildProcess::readMore(std::chrono::steady_clock::time_point deadline) {
  if (stderrFd_ < 0) return false;
  pollfd waiting{stderrFd_, POLLIN, 0};
  if (::poll(&waiting, 1, remainingMs(deadline)) <= 0) return false;
  char buffer[4096];
  ssize_t got = ::read(stderrFd_, buffer, sizeof buffer);
  if (got <= 0) {
    ::close(stderrFd_);
    stderrFd_ = -1;
    if (!pending_.empty()) lines_.push_back(std::move(pending_));
    pending_.clear();
    return false;
  }
  pending_.append(buffer, static_cast<size_t>(got));
  for (size_t end; (end = pending_.find('\n')) != std::string::npos;) {
    lines_.push_back(pending_.substr(0, end));
    pending_.erase(0, end + 1);
  }
  return true;
}

std::optional<std::string> ChildProcess::waitForLine(const std::function<bool(const std::string&)>& matches,
                                                     std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  size_t checked = lines_.size();
  while (true) {
    for (; checked < lines_.size(); ++checked)
      if (matches(lines_[checked])) return lines_[checked];
    if (!readMore(deadline)) {
      for (; checked < lines_.size(); ++checked)
        if (matches(lines_[checked])) return lines_[checked];
      return std::nullopt;
    }
  }
}

std::optional<std::string> ChildProcess::waitForLineContaining(const std::string& text,
                                                               std::chrono::milliseconds limit) {
  return waitForLine([&](const std::string& line) { return line.find(text) != std::string::npos; }, limit);
}

void ChildProcess::readToEnd(std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (readMore(deadline)) {
  }
}

bool ChildProcess::saidSomethingContaining(const std::string& text) const {
  for (const auto& line : lines_)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

std::string ChildProcess::allLines() const {
  std::string text;
  for (const auto& line : lines_) text += line + "\n";
  return text;
}

std::string ChildProcess::readStdout(std::chrono::milliseconds limit) {
  std::string text;
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (stdoutFd_ >= 0) {
    pollfd waiting{stdoutFd_, POLLIN, 0};
    if (::poll(&waiting, 1, remainingMs(deadline)) <= 0) break;
    char buffer[4096];
    ssize_t got = ::read(stdoutFd_, buffer, sizeof buffer);
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  return text;
}

void ChildProcess::signal(int signal) {
  if (pid_ > 0 && !status_) ::kill(pid_, signal);
}

void ChildProcess::signalGroup(int signal) {
  if (pid_ > 0) ::kill(-pid_, signal);
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds limit) {
  if (status_ || pid_ <= 0) return status_;
  int pidfd = pidfd_open(pid_, 0);
  if (pidfd >= 0) {
    pollfd waiting{pidfd, POLLIN, 0};
    ::poll(&waiting, 1, static_cast<int>(limit.count()));
    ::close(pidfd);
  }
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) != pid_) return std::nullopt;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return status_;
}

bool waitForProcessToEnd(pid_t pid, std::chrono::milliseconds limit) {
  int pidfd = pidfd_open(pid, 0);
  if (pidfd < 0) return errno == ESRCH;
  pollfd waiting{pidfd, POLLIN, 0};
  bool ended = ::poll(&waiting, 1, static_cast<int>(limit.count())) > 0;
  ::close(pidfd);
  return ended;
}

}  // namespace tavero::testing
