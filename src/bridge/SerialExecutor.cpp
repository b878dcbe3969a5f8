#include "bridge/SerialExecutor.h"

namespace tavero::bridge {

void SerialExecutor::post(Task task) {
  std::lock_guard lock(mutex_);
  tasks_.push_back(std::move(task));
  if (draining_) return;
  draining_ = true;
  queue_.post([self = shared_from_this()] { self->drain(); });
}

bool SerialExecutor::runNowIfIdle(const Task& task) {
  {
    std::lock_guard lock(mutex_);
    if (draining_ || !tasks_.empty()) return false;
    draining_ = true;
  }
  task();
  std::lock_guard lock(mutex_);
  if (tasks_.empty())
    draining_ = false;
  else
    queue_.post([self = shared_from_this()] { self->drain(); });
  return true;
}

void SerialExecutor::drain() {
  for (;;) {
    Task task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) {
        draining_ = false;
        return;
      }
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

}  // namespace tavero::bridge
