// Network reachability from the kernel's routing tables, read over
// rtnetlink: the device is reachable when a default route is usable (a
// unicast route to 0.0.0.0/0 or ::/0 in any table but the local one, whose
// link is up), and the kind of that route's interface tells Wi-Fi or other
// links (reachable) from mobile broadband (reachable, WWAN). With several
// default routes the lowest metric wins, IPv4 before IPv6 on a tie.
//
// Change events come from a monitor thread listening to link and route
// changes; the handler runs only when the flag word really changed.
//
// Thread rules: any thread (see NetworkReachability.h).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/linux/InterfaceKind.h"
#include "platform/NetworkReachability.h"

namespace tavero::platform {

class NetlinkReachability : public NetworkReachability {
 public:
  explicit NetlinkReachability(std::filesystem::path sysfsNet = "/sys/class/net");

  std::optional<uint32_t> currentFlags() override;
  std::unique_ptr<Subscription> startNotifier(std::function<void()> changed) override;

  // The interface of the usable default route now: nullopt when the routes
  // cannot be read, an empty name when there is no usable default route.
  std::optional<std::string> defaultRouteInterface();

  // The flag word for a default route through an interface of `kind`, or
  // for none.
  static uint32_t flagsFor(std::optional<InterfaceKind> kind);

 private:
  class Monitor;
  std::filesystem::path sysfsNet_;
};

}  // namespace tavero::platform
