// A thread of its own running a GLib main loop on its own main context
// (the thread-default context there), for libraries whose objects must be
// made, used and dropped on one thread and deliver their signals to that
// thread's context (Evolution Data Server's clients).
//
// Work is queued from any thread and runs in order. Each caller waits for
// its work at most a given time: past it, the work's GCancellable is
// cancelled (the work passes it to every blocking call, which then returns
// at once) and the caller goes on without the result; the work still ends on
// the thread.
//
// Thread rules: run() from any thread but the worker's own; the destructor
// cancels the work still queued or running, lets it end, and joins.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace tavero::platform {

class GLibWorkerThread {
 public:
  explicit GLibWorkerThread(std::string name);
  ~GLibWorkerThread();
  GLibWorkerThread(const GLibWorkerThread&) = delete;
  GLibWorkerThread& operator=(const GLibWorkerThread&) = delete;

  // What `work` returns when it ended within `limit`, else none. `work`
  // must only capture what outlives this thread (or copies).
  template <class Result>
  std::optional<Result> run(std::function<Result(GCancellable*)> work, std::chrono::milliseconds limit) {
    auto result = std::make_shared<std::optional<Result>>();
    bool ended = runFor([work = std::move(work), result](GCancellable* cancellable) { *result = work(cancellable); },
                        limit);
    if (!ended) return std::nullopt;
    return std::move(*result);
  }

  bool isWorkerThread() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  struct Job;

  bool runFor(std::function<void(GCancellable*)> work, std::chrono::milliseconds limit);
  void dispatch(GSourceFunc callback, gpointer data);
  void loop();
  static gboolean runNextJob(gpointer self);

  std::string name_;
  GMainContext* context_;
  GMainLoop* loop_;
  std::mutex mutex_;
  std::deque<std::shared_ptr<Job>> queued_;  // and the running one, at the front
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tavero::platform
