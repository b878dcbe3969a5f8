// Whether the device can reach the internet, as a flag word, and a stream of
// change events.
//
// Thread rules: every method from any thread. The change handler runs on a
// thread of the service's own; see Subscription.h for when it stops.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/Subscription.h"

namespace tavero::platform {

// The bits of the flag word.
namespace reachability {
inline constexpr uint32_t kReachable = 1u << 1;
inline constexpr uint32_t kConnectionRequired = 1u << 2;
inline constexpr uint32_t kConnectionOnTraffic = 1u << 3;
inline constexpr uint32_t kInterventionRequired = 1u << 4;
inline constexpr uint32_t kConnectionOnDemand = 1u << 5;
inline constexpr uint32_t kIsWWAN = 1u << 18;
}  // namespace reachability

class NetworkReachability {
 public:
  virtual ~NetworkReachability() = default;

  // The flag word now; nullopt when it cannot be read.
  virtual std::optional<uint32_t> currentFlags() = 0;

  // Calls `changed` whenever the flag word may have changed (read it again
  // with currentFlags()). Null when change events cannot be watched.
  virtual std::unique_ptr<Subscription> startNotifier(std::function<void()> changed) = 0;
};

}  // namespace tavero::platform
