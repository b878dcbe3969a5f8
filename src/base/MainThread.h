// The main thread: where web views, the window and dialogs live. This is the
// one way onto it from other threads.
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string_view>
#include <type_traits>

namespace tavero::base {

class MainThread {
 public:
  virtual ~MainThread() = default;

  virtual bool isMainThread() const = 0;

  // Runs `task` on the main thread later, never inline. Safe from any thread;
  // tasks posted by one thread run in the order they were posted.
  virtual void post(std::function<void()> task) = 0;

  // Serves the main loop (events, loads, posted tasks) for about `duration`,
  // then returns. Main thread only: the launch wait uses it.
  virtual void runFor(std::chrono::milliseconds duration) = 0;

  // Serves the main loop until `done()` holds (checked after every event
  // served) or `limit` has passed; returns done(). Main thread only. This
  // base version serves in short slices; loops that can tell when an event
  // was served answer sooner.
  virtual bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      runFor(std::chrono::milliseconds(10));
    }
    return true;
  }

  // Runs `task` on the main thread and returns its result; inline when
  // already there. REQUIRES: the main loop is running (or the caller is on it).
  template <class Task>
  std::invoke_result_t<Task> performAndWait(Task&& task) {
    if (isMainThread()) return task();
    std::packaged_task<std::invoke_result_t<Task>()> packaged(std::forward<Task>(task));
    auto done = packaged.get_future();
    post([&packaged] { packaged(); });
    return done.get();
  }

  // `object`, shared so that it is destroyed on the main thread whichever
  // thread drops the last reference (then it is posted there). For objects
  // of libraries that may only be touched there, such as WebKit's replies.
  template <class T>
  std::shared_ptr<T> shareDestroyedOnMain(std::unique_ptr<T> object) {
    return std::shared_ptr<T>(object.release(), [this](T* doomed) {
      if (isMainThread())
        delete doomed;
      else
        post([doomed] { delete doomed; });
    });
  }
};

// Records the calling thread as the one that drives the window, the web views
// and the engine. The real main thread does so when it is made; until some
// thread is recorded, requireMainThread() lets every caller through.
void claimMainThread();

// Ends the process, with a log line naming `where`, when called on another
// thread than the recorded one. Code that drives WebKit, GTK or the engine
// checks this on entry: a call from another thread would corrupt their state
// silently, far from its cause.
void requireMainThread(std::string_view where);

}  // namespace tavero::base
