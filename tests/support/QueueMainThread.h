// A main thread for tests: the thread that created it is the main thread,
// and posted tasks wait in a queue until runFor() or runPending() runs them.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "base/MainThread.h"

namespace tavero::testing {

class QueueMainThread : public base::MainThread {
 public:
  bool isMainThread() const override { return std::this_thread::get_id() == mainId_; }

  void post(std::function<void()> task) override {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }

  // Runs the tasks queued so far (and those they queue), then calls the
  // test's hook, which stands in for what the real loop would serve.
  void runFor(std::chrono::milliseconds duration) override {
    ++runForCalls;
    runPending();
    if (onRunFor) onRunFor(duration);
  }

  // Runs queued tasks until the queue is empty; returns how many ran.
  int runPending() {
    int ran = 0;
    for (;;) {
      std::function<void()> task;
      {
        std::lock_guard lock(mutex_);
        if (tasks_.empty()) return ran;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
      ++ran;
    }
  }

  int runForCalls = 0;
  std::function<void(std::chrono::milliseconds)> onRunFor;

 private:
  std::thread::id mainId_ = std::this_thread::get_id();
  std::mutex mutex_;  // guards tasks_
  std::deque<std::function<void()>> tasks_;
};

}  // namespace tavero::testing
