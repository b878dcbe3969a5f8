// Main-loop timers for tests: nothing ticks by itself; the test fires the
// timers it chooses, as the main loop would when their time came.
//
// Thread rules: schedule() and the base::Timer destructor from any thread; fire()
// from the test's thread.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "base/MainLoopTimers.h"

namespace tavero::testing {

class ManualTimers : public base::MainLoopTimers {
 public:
  struct Scheduled {
    int id;
    std::chrono::milliseconds interval;
    bool repeats;
  };

  std::unique_ptr<base::Timer> schedule(std::chrono::milliseconds interval, bool repeats,
                                  std::function<void()> tick) override {
    std::lock_guard lock(state_->mutex);
    int id = ++state_->lastId;
    state_->timers[id] = Entry{{id, interval, repeats}, std::make_shared<std::function<void()>>(std::move(tick))};
    return std::make_unique<Handle>(state_, id);
  }

  // The timers not cancelled (nor finished, for one-shot timers), oldest first.
  std::vector<Scheduled> active() const {
    std::lock_guard lock(state_->mutex);
    std::vector<Scheduled> list;
    for (const auto& [id, entry] : state_->timers) list.push_back(entry.scheduled);
    return list;
  }

  // Runs the tick of timer `id` as if its time had come; false when that
  // timer is not active.
  bool fire(int id) {
    std::shared_ptr<std::function<void()>> tick;
    {
      std::lock_guard lock(state_->mutex);
      auto it = state_->timers.find(id);
      if (it == state_->timers.end()) return false;
      tick = it->second.tick;
      if (!it->second.scheduled.repeats) state_->timers.erase(it);
    }
    (*tick)();
    return true;
  }

  // Fires every active timer once (those it schedules meanwhile wait).
  void fireAll() {
    for (const auto& timer : active()) fire(timer.id);
  }

 private:
  struct Entry {
    Scheduled scheduled;
    std::shared_ptr<std::function<void()>> tick;
  };
  struct State {
    mutable std::mutex mutex;  // guards lastId and timers
    int lastId = 0;
    std::map<int, Entry> timers;
  };
  class Handle : public base::Timer {
   public:
    Handle(std::shared_ptr<State> state, int id) : state_(std::move(state)), id_(id) {}
    ~Handle() override {
      std::lock_guard lock(state_->mutex);
      state_->timers.erase(id_);
    }

   private:
    std::shared_ptr<State> state_;
    int id_;
  };

  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace tavero::testing
