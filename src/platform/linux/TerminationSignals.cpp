#include "platform/linux/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace tavero::platform {
namespace {

// Touched by the signal handler: lock-free atomics and a pipe only.
std::atomic<int> firstSignal{0};
std::atomic<int> wakeWriteFd{-1};
std::atomic<int> wakeReadFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

void recordSignal(int signal) {
  int savedErrno = errno;
  int none = 0;
  firstSignal.compare_exchange_strong(none, signal);
  char byte = static_cast<char>(signal);
  int fd = wakeWriteFd.load();
  if (fd >= 0 && ::write(fd, &byte, 1) < 0) {
    // The pipe is full: the reader has a wake-up waiting already.
  }
  errno = savedErrno;
}

}  // namespace

bool TerminationSignals::install() {
  if (wakeReadFd.load() >= 0) return true;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  wakeWriteFd = fds[1];
  wakeReadFd = fds[0];
  struct sigaction action {};
  action.sa_handler = recordSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    if (::sigaction(signal, &action, nullptr) != 0) return false;
  }
  return true;
}

int TerminationSignals::received() { return firstSignal.load(); }

int TerminationSignals::notificationFd() { return wakeReadFd.load(); }

}  // namespace tavero::platform
