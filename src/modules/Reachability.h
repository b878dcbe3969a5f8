// The network monitor behind the connection module: reads the platform's
// reachability flag word, turns it into a network status, and reports
// changes to one handler while its notifier runs.
//
// Thread rules: any thread. The change handler runs on the platform's
// thread; stopNotifier() and the destructor wait until it has finished (do
// not call them from inside it).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/NetworkReachability.h"

namespace tavero::modules {

enum class NetworkStatus : int { NotReachable = 0, ReachableViaWiFi = 1, ReachableViaWWAN = 2 };

class Reachability {
 public:
  // A monitor of the internet connection as a whole. `platform` must outlive it.
  static std::unique_ptr<Reachability> reachabilityForInternetConnection(platform::NetworkReachability& platform);

  explicit Reachability(platform::NetworkReachability& platform) : platform_(platform) {}
  ~Reachability() { stopNotifier(); }

  // Starts reporting changes to `changed`; false when the platform cannot
  // watch for changes (the status can still be read).
  bool startNotifier(std::function<void()> changed);
  void stopNotifier();

  // NotReachable when the flag word cannot be read.
  NetworkStatus currentReachabilityStatus();

  // Reachable bit clear: not reachable; else WWAN when the WWAN bit is set;
  // else Wi-Fi when no connection is required, or when one is made on
  // traffic or on demand without the user's intervention; else not reachable.
  static NetworkStatus networkStatusForFlags(uint32_t flags);

 private:
  platform::NetworkReachability& platform_;
  std::mutex mutex_;  // guards notifier_
  std::unique_ptr<platform::Subscription> notifier_;
};

}  // namespace tavero::modules
