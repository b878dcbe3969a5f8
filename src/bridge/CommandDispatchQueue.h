// Runs queued bridge operations on a pool of threads that grows on demand:
// an operation may block for seconds (a dialog, a sensor, a store), and one
// that blocks must not hold up the others. Threads that stay idle for a
// while end, so a burst does not leave a crowd of threads behind.
//
// Thread rules: post() from any thread. The destructor waits for the tasks
// already posted.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tavero::bridge {

class CommandDispatchQueue {
 public:
  using Task = std::function<void()>;

  // `maxThreads` bounds the pool so a flood of blocking calls cannot
  // exhaust the process; past it, tasks wait for a free thread.
  explicit CommandDispatchQueue(size_t maxThreads = 64,
                                std::chrono::milliseconds idleTimeout = std::chrono::seconds(30));
  ~CommandDispatchQueue();

  CommandDispatchQueue(const CommandDispatchQueue&) = delete;
  CommandDispatchQueue& operator=(const CommandDispatchQueue&) = delete;

  void post(Task task);

  size_t threadCount() const;

 private:
  void workerLoop();
  void joinFinishedThreads();  // REQUIRES: mutex_ held

  const size_t maxThreads_;
  const std::chrono::milliseconds idleTimeout_;

  mutable std::mutex mutex_;  // guards every field below
  std::condition_variable wake_;
  std::deque<Task> tasks_;
  std::vector<std::thread> threads_;
  std::vector<std::thread::id> finished_;  // ended threads still to be joined
  size_t idleThreads_ = 0;
  size_t liveThreads_ = 0;
  bool stopping_ = false;
};

}  // namespace tavero::bridge
