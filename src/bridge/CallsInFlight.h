// Counts the bridge calls under way: a channel message from its arrival to
// its answer, an HTTP request waiting for its synchronous answer, a queued
// operation until it has run. Going to the background waits for this count
// to fall to zero (and stay there) before the bridge stops.
//
// Thread rules: every function from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace tavero::bridge {

class CallsInFlight {
 public:
  // Held while one call is under way; the call ends when the last copy goes.
  using Hold = std::shared_ptr<void>;

  CallsInFlight() = default;
  CallsInFlight(const CallsInFlight&) = delete;
  CallsInFlight& operator=(const CallsInFlight&) = delete;

  // REQUIRES: the returned hold does not outlive this object.
  Hold begin();

  size_t underWay() const { return underWay_.load(); }
  // How many calls began so far: an unchanged number between two looks
  // means no call came in between.
  uint64_t begun() const { return begun_.load(); }

 private:
  std::atomic<size_t> underWay_{0};
  std::atomic<uint64_t> begun_{0};
};

}  // namespace tavero::bridge
