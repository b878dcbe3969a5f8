#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "bridge/CommandDispatchQueue.h"

namespace tavero::bridge {
namespace {

// A latch the tasks wait on, so the test controls how long they block.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  int waiting = 0;

  void pass() {
    std::unique_lock lock(mutex);
    ++waiting;
    changed.notify_all();
    changed.wait_for(lock, std::chrono::seconds(10), [&] { return open; });
  }
  bool waitForWaiting(int n) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(5), [&] { return waiting >= n; });
  }
  void release() {
    std::lock_guard lock(mutex);
    open = true;
    changed.notify_all();
  }
};

TEST(CommandDispatchQueue, GrowsSoThatBlockingTasksRunAtTheSameTime) {
  Gate gate;
  std::atomic<int> done{0};
  {
    CommandDispatchQueue queue;
    for (int i = 0; i < 8; ++i) queue.post([&] { gate.pass(); ++done; });
    EXPECT_TRUE(gate.waitForWaiting(8));  // all eight block at once
    EXPECT_EQ(queue.threadCount(), 8u);
    gate.release();
  }  // the destructor waits for them
  EXPECT_EQ(done, 8);
}

TEST(CommandDispatchQueue, PastTheThreadBoundTasksWaitForAFreeThread) {
  Gate gate;
  std::atomic<int> done{0};
  {
    CommandDispatchQueue queue(2);
    for (int i = 0; i < 5; ++i) queue.post([&] { gate.pass(); ++done; });
    EXPECT_TRUE(gate.waitForWaiting(2));
    EXPECT_EQ(queue.threadCount(), 2u);
    gate.release();
  }
  EXPECT_EQ(done, 5);
}

// Counts the worker threads that have ended: a task leaves one of these in
// its thread's storage, and its destructor runs as the thread exits.
struct ThreadEnds {
  std::mutex mutex;
  std::condition_variable changed;
  int ended = 0;

  struct Mark {
    ThreadEnds* ends = nullptr;
    ~Mark() {
      if (!ends) return;
      std::lock_guard lock(ends->mutex);
      ++ends->ended;
      ends->changed.notify_all();
    }
  };
  void markThisThread() {
    thread_local Mark mark;
    mark.ends = this;
  }
  bool waitForEnded(int n) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return ended >= n; });
  }
};

TEST(CommandDispatchQueue, IdleThreadsEndAndTheQueueKeepsWorking) {
  ThreadEnds ends;
  CommandDispatchQueue queue(4, std::chrono::milliseconds(20));
  std::mutex mutex;
  std::condition_variable changed;
  int done = 0;
  auto task = [&] {
    ends.markThisThread();
    std::lock_guard lock(mutex);
    ++done;
    changed.notify_all();
  };
  queue.post(task);
  ASSERT_TRUE(ends.waitForEnded(1)) << "the idle thread did not end";
  EXPECT_EQ(queue.threadCount(), 0u);
  queue.post(task);  // joins the ended thread and starts another
  {
    std::unique_lock lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return done == 2; }));
  }
  EXPECT_TRUE(ends.waitForEnded(2));
}

TEST(CommandDispatchQueue, ATaskThatThrowsDoesNotEndTheQueue) {
  std::atomic<bool> ran{false};
  {
    CommandDispatchQueue queue(1);
    queue.post([] { throw std::runtime_error("unexpected"); });
    queue.post([&] { ran = true; });
  }
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace tavero::bridge
