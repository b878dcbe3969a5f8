// Network reachability that a developer can force (`tavero device network
// none|wifi|cell|real`): while forced, the flag word is the forced one and
// the real service's changes are not passed on; `real` goes back to the
// real service. Every change of the forced status counts as a change event.
//
// Thread rules: any thread (see NetworkReachability.h).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "platform/NetworkReachability.h"

namespace tavero::platform {

enum class ForcedNetworkStatus { None, Wifi, Cell };

class ForcedNetworkReachability : public NetworkReachability {
 public:
  // `real` must outlive this object.
  explicit ForcedNetworkReachability(NetworkReachability& real);

  std::optional<uint32_t> currentFlags() override;
  std::unique_ptr<Subscription> startNotifier(std::function<void()> changed) override;

  // Forces the status (nullopt: the real one again) and tells every
  // notifier. The handlers run on the calling thread before this returns.
  void force(std::optional<ForcedNetworkStatus> status);
  std::optional<ForcedNetworkStatus> forced() const;

  static uint32_t flagsFor(ForcedNetworkStatus status);

 private:
  class Notifier;
  struct Shared;  // what the notifiers share with this object
  void notifyAll();

  NetworkReachability& real_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace tavero::platform
