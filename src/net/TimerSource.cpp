#include "net/TimerSource.h"

#include <boost/asio/steady_timer.hpp>

namespace tavero::net {
namespace {

class SteadyTimer : public TimerSource::Timer {
 public:
  explicit SteadyTimer(boost::asio::io_context& io) : timer_(io) {}

  void start(std::chrono::milliseconds delay, std::function<void()> fire) override {
    timer_.expires_after(delay);  // cancels a wait in progress
    timer_.async_wait([fire = std::move(fire)](const boost::system::error_code& ec) {
      if (!ec) fire();
    });
  }
  void cancel() override { timer_.cancel(); }

 private:
  boost::asio::steady_timer timer_;
};

class SteadyTimerSource : public TimerSource {
 public:
  std::unique_ptr<Timer> makeTimer(boost::asio::io_context& io) override { return std::make_unique<SteadyTimer>(io); }
};

}  // namespace

std::shared_ptr<TimerSource> TimerSource::steady() {
  static const std::shared_ptr<TimerSource> source = std::make_shared<SteadyTimerSource>();
  return source;
}

}  // namespace tavero::net
