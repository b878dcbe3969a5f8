#include "modules/Reachability.h"

#include <utility>

namespace tavero::modules {

namespace flags = platform::reachability;

std::unique_ptr<Reachability> Reachability::reachabilityForInternetConnection(platform::NetworkReachability& platform) {
  return std::make_unique<Reachability>(platform);
}

bool Reachability::startNotifier(std::function<void()> changed) {
  auto notifier = platform_.startNotifier(std::move(changed));
  bool started = notifier != nullptr;
  std::unique_ptr<platform::Subscription> earlier;
  std::lock_guard lock(mutex_);
  earlier = std::exchange(notifier_, std::move(notifier));
  return started;
}

void Reachability::stopNotifier() {
  std::unique_ptr<platform::Subscription> notifier;
  {
    std::lock_guard lock(mutex_);
    notifier = std::move(notifier_);
  }
}

NetworkStatus Reachability::currentReachabilityStatus() {
  auto word = platform_.currentFlags();
  return word ? networkStatusForFlags(*word) : NetworkStatus::NotReachable;
}

NetworkStatus Reachability::networkStatusForFlags(uint32_t word) {
  if (!(word & flags::kReachable)) return NetworkStatus::NotReachable;
  if (word & flags::kIsWWAN) return NetworkStatus::ReachableViaWWAN;
  if (!(word & flags::kConnectionRequired)) return NetworkStatus::ReachableViaWiFi;
  if ((word & (flags::kConnectionOnTraffic | flags::kConnectionOnDemand)) && !(word & flags::kInterventionRequired)) {
    return NetworkStatus::ReachableViaWiFi;
  }
  return NetworkStatus::NotReachable;
}

}  // namespace tavero::modules
