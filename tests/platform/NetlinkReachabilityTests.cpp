// Reachability from the kernel's routing tables: the kind of an interface
// from a sysfs folder the test lays out, and, in a network namespace of
// the test's own, real default routes coming and going.
#include <gtest/gtest.h>

#include <sched.h>
#include <unistd.h>

#include <condition_variable>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/linux/NetlinkReachability.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;
namespace flags = reachability;

TEST(InterfaceKind, ComesFromTheDeviceTypeOrAWirelessFolder) {
  fs::path net = fs::temp_directory_path() / ("tavero-sysfs-" + std::to_string(::getpid()));
  fs::create_directories(net / "wlp2s0");
  std::ofstream(net / "wlp2s0" / "uevent") << "DEVTYPE=wlan\nINTERFACE=wlp2s0\nIFINDEX=3\n";
  fs::create_directories(net / "wwan0");
  std::ofstream(net / "wwan0" / "uevent") << "DEVTYPE=wwan\nINTERFACE=wwan0\n";
  fs::create_directories(net / "wlan1" / "wireless");
  std::ofstream(net / "wlan1" / "uevent") << "INTERFACE=wlan1\n";
  fs::create_directories(net / "eth0");
  std::ofstream(net / "eth0" / "uevent") << "INTERFACE=eth0\n";
  EXPECT_EQ(interfaceKind(net, "wlp2s0"), InterfaceKind::Wireless);
  EXPECT_EQ(interfaceKind(net, "wwan0"), InterfaceKind::MobileBroadband);
  EXPECT_EQ(interfaceKind(net, "wlan1"), InterfaceKind::Wireless);
  EXPECT_EQ(interfaceKind(net, "eth0"), InterfaceKind::Other);
  EXPECT_EQ(interfaceKind(net, "gone0"), InterfaceKind::Other);
  EXPECT_EQ(interfaceKind(net, "../wwan0"), InterfaceKind::Other);  // never a path out of the folder
  EXPECT_EQ(interfaceKind(net, ".."), InterfaceKind::Other);
  fs::remove_all(net);

  EXPECT_EQ(NetlinkReachability::flagsFor(std::nullopt), 0u);
  EXPECT_EQ(NetlinkReachability::flagsFor(InterfaceKind::Wireless), flags::kReachable);
  EXPECT_EQ(NetlinkReachability::flagsFor(InterfaceKind::Other), flags::kReachable);
  EXPECT_EQ(NetlinkReachability::flagsFor(InterfaceKind::MobileBroadband), flags::kReachable | flags::kIsWWAN);
}

// Change events, for the test thread to wait on.
class Changes {
 public:
  void note() {
    {
      std::lock_guard lock(mutex_);
      ++count_;
    }
    changed_.notify_all();
  }
  bool waitBeyond(int seen) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return count_ > seen; });
  }
  int count() {
    std::lock_guard lock(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

// Runs `command` with the shell; true when it succeeded.
bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Everything happens on one thread that moved into a new network namespace
// (namespaces belong to threads): the monitor thread it starts and the `ip`
// commands it runs live there too, and the machine's own routes are never
// touched. Needs the right to make namespaces (root, or user namespaces).
TEST(NetlinkReachabilityInANamespace, SeesADefaultRouteComeAndGo) {
  if (!run("command -v ip")) GTEST_SKIP() << "the ip command (iproute2) is not installed";
  std::string skipReason;
  std::thread inside([&] {
    if (::unshare(CLONE_NEWNET) != 0) {
      skipReason = std::string("this process may not make a network namespace: ") + std::strerror(errno);
      return;
    }
    // A dummy link where the kernel has the module, else a veth pair (both
    // ends up, so the link has carrier).
    std::string link = "tv0";
    if (!run("ip link add tv0 type dummy")) {
      ASSERT_TRUE(run("ip link add tv0 type veth peer name tv1 && ip link set tv1 up"))
          << "neither a dummy nor a veth link can be made in the namespace";
    }
    ASSERT_TRUE(run("ip link set lo up && ip link set tv0 up && ip addr add 10.200.0.2/24 dev tv0"));

    NetlinkReachability network;
    EXPECT_EQ(network.currentFlags(), 0u) << "a new namespace has no default route";
    Changes changes;
    auto notifier = network.startNotifier([&] { changes.note(); });
    ASSERT_TRUE(notifier);

    ASSERT_TRUE(run("ip route add default via 10.200.0.1 dev tv0"));
    ASSERT_TRUE(changes.waitBeyond(0)) << "no change event for the new default route";
    EXPECT_EQ(network.currentFlags(), flags::kReachable);
    EXPECT_EQ(network.defaultRouteInterface(), link);

    // Unrelated route changes that leave the flag word as it was send no event.
    int seen = changes.count();
    ASSERT_TRUE(run("ip route add 10.201.0.0/16 via 10.200.0.1 dev tv0"));
    ASSERT_TRUE(run("ip route del default via 10.200.0.1 dev tv0"));
    ASSERT_TRUE(changes.waitBeyond(seen)) << "no change event for the removed default route";
    EXPECT_EQ(changes.count(), seen + 1);
    EXPECT_EQ(network.currentFlags(), 0u);

    // A default route that cannot carry traffic is no reachability.
    ASSERT_TRUE(run("ip route add unreachable default"));
    EXPECT_EQ(network.currentFlags(), 0u);
    notifier.reset();
  });
  inside.join();
  if (!skipReason.empty()) GTEST_SKIP() << skipReason;
}

}  // namespace
}  // namespace tavero::platform
