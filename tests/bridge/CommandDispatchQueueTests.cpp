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

TEST(CommandDispatchQueue, IdleThreadsEndAndTheQueueKeepsWorking) {
  CommandDispatchQueue queue(4, std::chrono::milliseconds(20));
  std::mutex mutex;
  std::condition_variable changed;
  int done = 0;
  auto task = [&] {
    std::lock_guard lock(mutex);
    ++done;
    changed.notify_all();
  };
  queue.post(task);
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return done == 1; }));
  }
  for (int i = 0; i < 500 && queue.threadCount() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(queue.threadCount(), 0u);
  queue.post(task);
  std::unique_lock lock(mutex);
  EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return done == 2; }));
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
