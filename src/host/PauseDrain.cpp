#include "host/PauseDrain.h"

#include <string>

#include "log/Log.h"

namespace tavero::host {
namespace {

constexpr int kQuietPollsNeeded = static_cast<int>(PauseDrain::kQuietTime / PauseDrain::kPollInterval);

std::string seconds(std::chrono::milliseconds duration) {
  std::string text = std::to_string(duration.count() / 1000) + ".";
  std::string fraction = std::to_string(duration.count() % 1000);
  return text + std::string(3 - fraction.size(), '0') + fraction + " s";
}

}  // namespace

PauseDrain::PauseDrain(base::MainLoopTimers& timers, const bridge::CallsInFlight& calls)
    : timers_(timers), calls_(calls) {}

void PauseDrain::start(std::function<void()> stop) {
  stop_ = std::move(stop);
  started_ = std::chrono::steady_clock::now();
  handlersRan_ = false;
  quietPolls_ = 0;
  callsBegunAtLastPoll_ = calls_.begun();
  pollTimer_ = timers_.schedule(kPollInterval, true, [this] { poll(); });
  limitTimer_ = timers_.schedule(kLimit, false, [this] { finish(false); });
}

void PauseDrain::handlersRan() {
  if (waiting()) handlersRan_ = true;
}

void PauseDrain::cancel() {
  stop_ = nullptr;
  pollTimer_.reset();
  limitTimer_.reset();
}

void PauseDrain::poll() {
  uint64_t begun = calls_.begun();
  bool idle = handlersRan_ && calls_.underWay() == 0 && begun == callsBegunAtLastPoll_;
  callsBegunAtLastPoll_ = begun;
  quietPolls_ = idle ? quietPolls_ + 1 : 0;
  if (quietPolls_ >= kQuietPollsNeeded) finish(true);
}

void PauseDrain::finish(bool inTime) {
  auto stop = std::move(stop_);
  size_t underWay = calls_.underWay();
  bool handlersRan = handlersRan_;
  cancel();
  lastWait_ = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_);
  if (inTime) {
    log::info("lifecycle: the pages' pause handlers are done; the bridge stops " + seconds(*lastWait_) +
              " after \"pause\"");
  } else {
    log::warning("lifecycle: the bridge stops " + seconds(kLimit) + " after \"pause\", the longest it waits: " +
                 (handlersRan ? "" : "the pause handlers did not report back, ") + std::to_string(underWay) +
                 " call(s) still under way; pages' calls are refused from now on");
  }
  if (stop) stop();
}

}  // namespace tavero::host
