// Where HTTP connections get their timers (idle and request deadlines, the
// linger after a closing answer). By default they run on the io_context's
// steady clock; tests give the server a source whose time they advance
// themselves, so that deadlines pass without waiting.
//
// Thread rules: timers are made, started, cancelled and fired on the
// server's io thread.
#pragma once

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <functional>
#include <memory>

namespace tavero::net {

class TimerSource {
 public:
  class Timer {
   public:
    virtual ~Timer() = default;
    // Calls `fire` on the io thread once `delay` has passed. Starting the
    // timer again, cancelling it or destroying it drops the call pending.
    virtual void start(std::chrono::milliseconds delay, std::function<void()> fire) = 0;
    virtual void cancel() = 0;
  };

  virtual ~TimerSource() = default;
  virtual std::unique_ptr<Timer> makeTimer(boost::asio::io_context& io) = 0;

  // Timers on the io_context's steady clock.
  static std::shared_ptr<TimerSource> steady();
};

}  // namespace tavero::net
