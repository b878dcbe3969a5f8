// A program run by a test as a child process, its standard error read line
// by line. Every wait is bounded, so a child that never says what the test
// waits for fails the test instead of hanging it; the destructor kills and
// reaps a child that is still running.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tavero::testing {

class ChildProcess {
 public:
  struct Options {
    std::vector<std::string> environment{};  // added to the test's own
    bool keepStdout = false;               // else standard output goes to /dev/null
    bool ownProcessGroup = false;          // as a shell's job is: signalGroup() reaches all of it
  };

  // Starts `argv` (argv[0] is a path).
  explicit ChildProcess(std::vector<std::string> argv, Options options);
  explicit ChildProcess(std::vector<std::string> argv) : ChildProcess(std::move(argv), Options{}) {}
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool started() const { return pid_ > 0; }

  // The first standard error line from now on that `matches`, or nullopt
  // when the child closes standard error (or `limit` passes) first. Every
  // line read is kept in lines().
  std::optional<std::string> waitForLine(const std::function<bool(const std::string&)>& matches,
                                         std::chrono::milliseconds limit = std::chrono::seconds(30));
  std::optional<std::string> waitForLineContaining(const std::string& text,
                                                   std::chrono::milliseconds limit = std::chrono::seconds(30));
  // Reads standard error to its end (or `limit`).
  void readToEnd(std::chrono::milliseconds limit = std::chrono::seconds(30));
  const std::vector<std::string>& lines() const { return lines_; }
  bool saidSomethingContaining(const std::string& text) const;
  std::string allLines() const;

  // Standard output, read to its end (only with keepStdout).
  std::string readStdout(std::chrono::milliseconds limit = std::chrono::seconds(30));

  void signal(int signal);
  // Signals every process of the child's group, as Ctrl-C in a terminal
  // does. REQUIRES: started with ownProcessGroup.
  void signalGroup(int signal);
  // The exit status, or 128 + the signal that ended the child; nullopt when
  // it is still running after `limit`.
  std::optional<int> wait(std::chrono::milliseconds limit = std::chrono::seconds(30));

 private:
  bool readMore(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  bool ownProcessGroup_ = false;
  int stderrFd_ = -1;
  int stdoutFd_ = -1;
  std::string pending_;
  std::vector<std::string> lines_;
  std::optional<int> status_;
};

// True when the process `pid` (not necessarily a child) has ended within
// `limit`. A process that is already gone counts as ended.
bool waitForProcessToEnd(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(30));

}  // namespace tavero::testing
