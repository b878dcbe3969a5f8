#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "base/MainThread.h"
#include "support/QueueMainThread.h"

namespace tavero::base {
namespace {

// Counts its destructions and on which thread the last one ran.
struct Watched {
  explicit Watched(std::atomic<int>& destroyed, std::thread::id& destroyedOn)
      : destroyed_(destroyed), destroyedOn_(destroyedOn) {}
  ~Watched() {
    destroyedOn_ = std::this_thread::get_id();
    ++destroyed_;
  }
  std::atomic<int>& destroyed_;
  std::thread::id& destroyedOn_;
};

TEST(MainThreadTest, SharedObjectDroppedElsewhereIsDestroyedOnTheMainThread) {
  testing::QueueMainThread mainThread;
  std::atomic<int> destroyed{0};
  std::thread::id destroyedOn;
  auto shared = mainThread.shareDestroyedOnMain(std::make_unique<Watched>(destroyed, destroyedOn));
  std::thread([dropped = std::move(shared)]() mutable { dropped.reset(); }).join();
  EXPECT_EQ(destroyed, 0) << "destroyed on the thread that dropped it";
  EXPECT_EQ(mainThread.runPending(), 1);
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(destroyedOn, std::this_thread::get_id());
}

TEST(MainThreadTest, SharedObjectDroppedOnTheMainThreadIsDestroyedAtOnce) {
  testing::QueueMainThread mainThread;
  std::atomic<int> destroyed{0};
  std::thread::id destroyedOn;
  auto shared = mainThread.shareDestroyedOnMain(std::make_unique<Watched>(destroyed, destroyedOn));
  auto copy = shared;
  shared.reset();
  EXPECT_EQ(destroyed, 0);
  copy.reset();
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(mainThread.runPending(), 0);
}

TEST(MainThreadDeathTest, MainThreadWorkCalledFromAnotherThreadStopsTheProcessNamingIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  claimMainThread();
  requireMainThread("the window");  // the claiming thread passes
  EXPECT_DEATH(std::thread([] { requireMainThread("the window"); }).join(),
               "the window was called off the main thread");
}

}  // namespace
}  // namespace tavero::base
