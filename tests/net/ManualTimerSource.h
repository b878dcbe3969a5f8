// Timers for HTTP connections on a clock that only the test moves: advance()
// fires, in order, every timer whose time has come. Used on the server's io
// thread (through HttpServerHarness::advance).
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "net/TimerSource.h"

namespace tavero::net {

class ManualTimerSource : public TimerSource {
 public:
  using Milliseconds = std::chrono::milliseconds;

  std::unique_ptr<Timer> makeTimer(boost::asio::io_context&) override {
    return std::make_unique<ManualTimer>(shared_);
  }

  // Moves the clock on by `duration`, firing what comes due on the way.
  void advance(Milliseconds duration) {
    Milliseconds until;
    {
      std::lock_guard lock(shared_->mutex);
      until = shared_->now + duration;
    }
    // Bounded: a timer that restarts itself with no delay cannot hang the test.
    for (int fired = 0; fired < 10000; ++fired) {
      std::function<void()> fire;
      {
        std::lock_guard lock(shared_->mutex);
        ManualTimer* next = nullptr;
        for (ManualTimer* timer : shared_->timers)
          if (timer->due && *timer->due <= until && (!next || *timer->due < *next->due)) next = timer;
        if (!next) {
          shared_->now = until;
          return;
        }
        shared_->now = *next->due;
        next->due.reset();
        fire = std::move(next->fire);
      }
      fire();
    }
  }

  // The delays of the timers waiting now, as they were started.
  std::vector<Milliseconds> pendingDelays() const {
    std::lock_guard lock(shared_->mutex);
    std::vector<Milliseconds> delays;
    for (const ManualTimer* timer : shared_->timers)
      if (timer->due) delays.push_back(timer->delay);
    return delays;
  }
  bool hasPending(Milliseconds delay) const {
    auto delays = pendingDelays();
    return std::find(delays.begin(), delays.end(), delay) != delays.end();
  }

 private:
  struct ManualTimer;
  struct Shared {
    mutable std::mutex mutex;  // guards everything here and in the timers
    Milliseconds now{0};
    std::vector<ManualTimer*> timers;
  };

  struct ManualTimer : Timer {
    explicit ManualTimer(std::shared_ptr<Shared> shared) : shared(std::move(shared)) {
      std::lock_guard lock(this->shared->mutex);
      this->shared->timers.push_back(this);
    }
    ~ManualTimer() override {
      std::function<void()> dropped;  // destroyed outside the lock: it may own another timer
      std::lock_guard lock(shared->mutex);
      std::erase(shared->timers, this);
      dropped = std::move(fire);
    }
    void start(Milliseconds wait, std::function<void()> callback) override {
      std::function<void()> dropped;
      std::lock_guard lock(shared->mutex);
      dropped = std::move(fire);
      delay = wait;
      due = shared->now + wait;
      fire = std::move(callback);
    }
    void cancel() override {
      std::function<void()> dropped;
      std::lock_guard lock(shared->mutex);
      due.reset();
      dropped = std::move(fire);
    }

    std::shared_ptr<Shared> shared;
    Milliseconds delay{0};
    std::optional<Milliseconds> due;
    std::function<void()> fire;
  };

  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

}  // namespace tavero::net
