// Runs tasks one at a time, in the order they were posted, on the command
// dispatch queue's threads. A client's synchronous calls go through one of
// these: they keep their order, and a call that waits (for a database lock,
// say) holds up that client's later calls only, never the bridge's thread
// or other clients.
//
// Thread rules: post() from any thread. The executor must outlive its
// tasks; hold it by shared_ptr where its owner may go first.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "bridge/CommandDispatchQueue.h"

namespace tavero::bridge {

class SerialExecutor : public std::enable_shared_from_this<SerialExecutor> {
 public:
  using Task = std::function<void()>;

  explicit SerialExecutor(CommandDispatchQueue& queue) : queue_(queue) {}

  // REQUIRES: held by a shared_ptr (the running drain keeps it alive).
  void post(Task task);

  // Runs `task` on the calling thread now if nothing is queued or running,
  // and returns true; otherwise leaves it and returns false. Tasks posted
  // meanwhile wait for it.
  bool runNowIfIdle(const Task& task);

 private:
  void drain();

  CommandDispatchQueue& queue_;
  std::mutex mutex_;  // guards tasks_ and draining_
  std::deque<Task> tasks_;
  bool draining_ = false;
};

}  // namespace tavero::bridge
