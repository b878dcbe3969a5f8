#include "platform/linux/NetlinkReachability.h"

#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "log/Log.h"

namespace tavero::platform {
namespace {

// An rtnetlink socket, closed on destruction.
struct NetlinkSocket {
  mnl_socket* socket = nullptr;
  explicit NetlinkSocket(unsigned groups) {
    socket = mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC);
    if (socket && mnl_socket_bind(socket, groups, MNL_SOCKET_AUTOPID) < 0) {
      mnl_socket_close(socket);
      socket = nullptr;
    }
  }
  ~NetlinkSocket() {
    if (socket) mnl_socket_close(socket);
  }
  NetlinkSocket(const NetlinkSocket&) = delete;
  NetlinkSocket& operator=(const NetlinkSocket&) = delete;
};

struct DefaultRoute {
  uint32_t interfaceIndex = 0;
  uint32_t metric = 0;
  int family = 0;
};

// A better default route than `than`: lower metric, then IPv4 first.
bool better(const DefaultRoute& candidate, const std::optional<DefaultRoute>& than) {
  if (!than) return true;
  if (candidate.metric != than->metric) return candidate.metric < than->metric;
  return candidate.family == AF_INET && than->family != AF_INET;
}

struct RouteAttributes {
  uint32_t table = 0;
  uint32_t interfaceIndex = 0;
  uint32_t metric = 0;
  const nlattr* multipath = nullptr;
};

int readRouteAttribute(const nlattr* attribute, void* data) {
  auto& route = *static_cast<RouteAttributes*>(data);
  int type = mnl_attr_get_type(attribute);
  if (mnl_attr_type_valid(attribute, RTA_MAX) < 0) return MNL_CB_OK;
  switch (type) {
    case RTA_TABLE:
    case RTA_OIF:
    case RTA_PRIORITY:
      if (mnl_attr_validate(attribute, MNL_TYPE_U32) < 0) return MNL_CB_OK;
      (type == RTA_TABLE ? route.table : type == RTA_OIF ? route.interfaceIndex : route.metric) =
          mnl_attr_get_u32(attribute);
      break;
    case RTA_MULTIPATH:
      route.multipath = attribute;
      break;
    default:
      break;
  }
  return MNL_CB_OK;
}

// The first usable next hop's interface of a multipath route, or 0.
uint32_t firstUsableNextHop(const nlattr* multipath) {
  const auto* hop = static_cast<const rtnexthop*>(mnl_attr_get_payload(multipath));
  int left = static_cast<int>(mnl_attr_get_payload_len(multipath));
  while (left >= static_cast<int>(sizeof(rtnexthop)) && hop->rtnh_len >= sizeof(rtnexthop) &&
         hop->rtnh_len <= left) {
    if (!(hop->rtnh_flags & (RTNH_F_DEAD | RTNH_F_LINKDOWN)) && hop->rtnh_ifindex > 0) {
      return static_cast<uint32_t>(hop->rtnh_ifindex);
    }
    left -= RTNH_ALIGN(hop->rtnh_len);
    hop = reinterpret_cast<const rtnexthop*>(reinterpret_cast<const char*>(hop) + RTNH_ALIGN(hop->rtnh_len));
  }
  return 0;
}

int readRoute(const nlmsghdr* message, void* data) {
  auto& best = *static_cast<std::optional<DefaultRoute>*>(data);
  if (message->nlmsg_type != RTM_NEWROUTE || mnl_nlmsg_get_payload_len(message) < sizeof(rtmsg)) return MNL_CB_OK;
  const auto* route = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(message));
  if (route->rtm_dst_len != 0 || route->rtm_type != RTN_UNICAST) return MNL_CB_OK;
  if (route->rtm_family != AF_INET && route->rtm_family != AF_INET6) return MNL_CB_OK;
  if (route->rtm_flags & (RTNH_F_DEAD | RTNH_F_LINKDOWN)) return MNL_CB_OK;
  RouteAttributes attributes;
  attributes.table = route->rtm_table;
  mnl_attr_parse(message, sizeof(rtmsg), readRouteAttribute, &attributes);
  if (attributes.table == RT_TABLE_LOCAL) return MNL_CB_OK;
  if (attributes.interfaceIndex == 0 && attributes.multipath) {
    attributes.interfaceIndex = firstUsableNextHop(attributes.multipath);
  }
  if (attributes.interfaceIndex == 0) return MNL_CB_OK;
  DefaultRoute candidate{attributes.interfaceIndex, attributes.metric, route->rtm_family};
  if (better(candidate, best)) best = candidate;
  return MNL_CB_OK;
}

// The best usable default route (an empty optional inside when there is
// none); nullopt when the routing tables cannot be read.
std::optional<std::optional<DefaultRoute>> dumpDefaultRoute() {
  NetlinkSocket netlink(0);
  if (!netlink.socket) return std::nullopt;
  std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE * 4);
  nlmsghdr* request = mnl_nlmsg_put_header(buffer.data());
  request->nlmsg_type = RTM_GETROUTE;
  request->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request->nlmsg_seq = static_cast<uint32_t>(time(nullptr));
  auto* filter = static_cast<rtmsg*>(mnl_nlmsg_put_extra_header(request, sizeof(rtmsg)));
  filter->rtm_family = AF_UNSPEC;
  uint32_t sequence = request->nlmsg_seq;
  if (mnl_socket_sendto(netlink.socket, request, request->nlmsg_len) < 0) return std::nullopt;
  uint32_t port = mnl_socket_get_portid(netlink.socket);
  std::optional<DefaultRoute> best;
  for (;;) {
    ssize_t received = mnl_socket_recvfrom(netlink.socket, buffer.data(), buffer.size());
    if (received < 0) return std::nullopt;
    int status = mnl_cb_run(buffer.data(), static_cast<size_t>(received), sequence, port, readRoute, &best);
    if (status == MNL_CB_STOP) return best;
    if (status == MNL_CB_ERROR) return std::nullopt;
  }
}

}  // namespace

// Listens to link and route changes on a thread of its own until destroyed.
class NetlinkReachability::Monitor : public Subscription {
 public:
  Monitor(NetlinkReachability& owner, std::function<void()> changed)
      : owner_(owner), changed_(std::move(changed)),
        netlink_(RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE),
        stop_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

  bool start() {
    if (!netlink_.socket || stop_ < 0) return false;
    last_ = owner_.currentFlags();
    thread_ = std::thread([this] { run(); });
    return true;
  }

  ~Monitor() override {
    if (thread_.joinable()) {
      uint64_t one = 1;
      if (::write(stop_, &one, sizeof one) < 0) log::warning("reachability: cannot stop the monitor thread");
      thread_.join();
    }
    if (stop_ >= 0) ::close(stop_);
  }

 private:
  void run() {
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE * 4);
    pollfd watched[2] = {{mnl_socket_get_fd(netlink_.socket), POLLIN, 0}, {stop_, POLLIN, 0}};
    for (;;) {
      if (::poll(watched, 2, -1) < 0) {
        if (errno == EINTR) continue;
        log::error(std::string("reachability: the monitor stops: poll failed: ") + std::strerror(errno));
        return;
      }
      if (watched[1].revents) return;
      // Read everything that is queued; only the state after it matters.
      // A lost message (ENOBUFS) also just means "look again".
      for (;;) {
        ssize_t received = ::recv(mnl_socket_get_fd(netlink_.socket), buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (received < 0 && errno != ENOBUFS && errno != EINTR) break;
      }
      auto flags = owner_.currentFlags();
      if (flags == last_) continue;
      last_ = flags;
      changed_();
    }
  }

  NetlinkReachability& owner_;
  std::function<void()> changed_;
  NetlinkSocket netlink_;
  int stop_;
  std::optional<uint32_t> last_;  // monitor thread only, after start()
  std::thread thread_;
};

NetlinkReachability::NetlinkReachability(std::filesystem::path sysfsNet) : sysfsNet_(std::move(sysfsNet)) {}

uint32_t NetlinkReachability::flagsFor(std::optional<InterfaceKind> kind) {
  if (!kind) return 0;
  uint32_t flags = reachability::kReachable;
  if (*kind == InterfaceKind::MobileBroadband) flags |= reachability::kIsWWAN;
  return flags;
}

std::optional<std::string> NetlinkReachability::defaultRouteInterface() {
  auto route = dumpDefaultRoute();
  if (!route) return std::nullopt;
  if (!*route) return std::string();
  char name[IF_NAMESIZE] = {};
  // The interface may vanish between the dump and this look-up: then there
  // is no usable route any more.
  if (!if_indextoname((*route)->interfaceIndex, name)) return std::string();
  return std::string(name);
}

std::optional<uint32_t> NetlinkReachability::currentFlags() {
  auto name = defaultRouteInterface();
  if (!name) return std::nullopt;
  if (name->empty()) return flagsFor(std::nullopt);
  return flagsFor(interfaceKind(sysfsNet_, *name));
}

std::unique_ptr<Subscription> NetlinkReachability::startNotifier(std::function<void()> changed) {
  auto monitor = std::make_unique<Monitor>(*this, std::move(changed));
  if (!monitor->start()) {
    log::warning(std::string("reachability: cannot listen to route changes over rtnetlink: ") + std::strerror(errno));
    return nullptr;
  }
  return monitor;
}

}  // namespace tavero::platform
