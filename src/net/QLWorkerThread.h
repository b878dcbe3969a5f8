// One thread running one Boost.Asio io_context: the bridge's worker thread.
// The listening sockets, every HTTP connection and every synchronous bridge
// operation run here, one handler at a time.
#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <functional>
#include <future>
#include <thread>
#include <type_traits>

namespace tavero::net {

class QLWorkerThread {
 public:
  // Starts the thread; its loop runs until the object is destroyed.
  QLWorkerThread();
  // Stops the loop, joins the thread and destroys handlers never run.
  // REQUIRES: not called on the worker thread.
  ~QLWorkerThread();

  QLWorkerThread(const QLWorkerThread&) = delete;
  QLWorkerThread& operator=(const QLWorkerThread&) = delete;

  boost::asio::io_context& context() { return io_; }
  bool isCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  // Runs `task` on the worker thread later. Safe from any thread.
  void post(std::function<void()> task) { boost::asio::post(io_, std::move(task)); }

  // Runs `task` on the worker thread and waits for its result (inline when
  // already there). Exceptions thrown by `task` reach the caller.
  template <class Task>
  std::invoke_result_t<Task> performAndWait(Task&& task) {
    if (isCurrentThread()) return task();
    std::packaged_task<std::invoke_result_t<Task>()> packaged(std::forward<Task>(task));
    auto done = packaged.get_future();
    boost::asio::post(io_, [&packaged] { packaged(); });
    return done.get();
  }

 private:
  void workerLoop();

  boost::asio::io_context io_{1};
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> keepRunning_;
  std::thread thread_;
};

}  // namespace tavero::net
