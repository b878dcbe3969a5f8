// The main thread on Linux: the thread that creates this object, running
// GLib's default main context (GTK's loop).
#pragma once

#include <functional>
#include <thread>

#include "base/MainThread.h"

typedef struct _GMainLoop GMainLoop;

namespace tavero::platform {

class GLibMainThread : public base::MainThread {
 public:
  GLibMainThread();
  ~GLibMainThread() override;

  bool isMainThread() const override { return std::this_thread::get_id() == mainId_; }
  void post(std::function<void()> task) override;
  void runFor(std::chrono::milliseconds duration) override;
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) override;

  // Runs the main loop until quit() (from any thread).
  void run();
  void quit();

  // Calls `handler` on the main thread with the signal when SIGINT,
  // SIGTERM or SIGHUP arrives, also for one that arrived before this call (see
  // TerminationSignals, installed here if it was not yet).
  void onTerminationSignal(std::function<void(int signal)> handler);

 private:
  std::thread::id mainId_ = std::this_thread::get_id();
  GMainLoop* loop_;
  std::function<void(int)> terminationHandler_;
  unsigned signalSource_ = 0;  // the main loop's watch of the signal pipe
};

}  // namespace tavero::platform
