#include "bridge/CommandDispatchQueue.h"

#include <algorithm>
#include <exception>
#include <string>

#include "log/Log.h"

namespace tavero::bridge {

CommandDispatchQueue::CommandDispatchQueue(size_t maxThreads, std::chrono::milliseconds idleTimeout)
    : maxThreads_(std::max<size_t>(1, maxThreads)), idleTimeout_(idleTimeout) {}

CommandDispatchQueue::~CommandDispatchQueue() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    threads.swap(threads_);
  }
  wake_.notify_all();
  for (auto& thread : threads) thread.join();
}

void CommandDispatchQueue::post(Task task) {
  std::lock_guard lock(mutex_);
  joinFinishedThreads();
  tasks_.push_back(std::move(task));
  // While the queue stops, the threads still running finish what is queued;
  // no new thread may start then.
  if (stopping_ || idleThreads_ >= tasks_.size() || liveThreads_ >= maxThreads_) {
    wake_.notify_one();
    return;
  }
  ++liveThreads_;
  threads_.emplace_back([this] { workerLoop(); });
}

size_t CommandDispatchQueue::threadCount() const {
  std::lock_guard lock(mutex_);
  return liveThreads_;
}

void CommandDispatchQueue::joinFinishedThreads() {
  for (auto id : finished_) {
    auto it = std::find_if(threads_.begin(), threads_.end(),
                           [id](const std::thread& t) { return t.get_id() == id; });
    if (it == threads_.end()) continue;
    it->join();  // the thread has left workerLoop; this returns at once
    threads_.erase(it);
  }
  finished_.clear();
}

void CommandDispatchQueue::workerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (tasks_.empty()) {
      ++idleThreads_;
      bool woken = wake_.wait_for(lock, idleTimeout_, [this] { return stopping_ || !tasks_.empty(); });
      --idleThreads_;
      if (!woken && !stopping_) break;  // idle too long: end this thread
    }
    if (tasks_.empty()) {
      if (stopping_) break;
      continue;
    }
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    try {
      task();
    } catch (const std::exception& e) {
      log::error(std::string("queued operation failed with an unexpected exception: ") + e.what());
    } catch (...) {
      log::error("queued operation failed with an unexpected exception");
    }
    lock.lock();
  }
  --liveThreads_;
  if (!stopping_) finished_.push_back(std::this_thread::get_id());
}

}  // namespace tavero::bridge
