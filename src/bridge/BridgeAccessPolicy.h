// Which requests may reach the modules. The bridge listens on loopback, but
// any web page open in a browser on the same machine can still send it
// requests; these checks keep such pages out.
#pragma once

#include <cstdint>
#include <string_view>

#include "net/HTTPMessage.h"

namespace tavero::bridge {

class BridgeAccessPolicy {
 public:
  explicit BridgeAccessPolicy(uint16_t port) : port_(port) {}

  // The shell's own pages are file pages: they send no Origin, "null", or a
  // file:// origin. A web site's origin is refused.
  static bool isAllowedOrigin(std::string_view origin);
  // The Host must be a loopback name with the bridge's port, so that a
  // site whose name was re-pointed at 127.0.0.1 cannot talk to the bridge.
  // HTTP/1.0 clients may leave Host out.
  bool isAllowedHost(std::string_view host) const;

  // Both checks on a request.
  bool allows(const net::HTTPRequestMessage& request) const;

 private:
  uint16_t port_;
};

}  // namespace tavero::bridge
