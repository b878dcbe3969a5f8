// Which HTTP requests may reach the modules. The bridge listens on
// loopback, but any program on the machine can connect to it, and any web
// page in a browser (or framed inside the application) can make requests
// to it. These checks keep them out.
//
// Two kinds of bridge:
// - appPages (`tavero run`): only the application's own documents may call.
//   Requests must carry the run's page token (query key "__token" or header
//   "X-Tavero-Token"), which the shell gives only to the bundle's documents;
//   a web site shown in a frame never has it. A bundle may allow plain
//   requests without the token (its pages written for a fixed protocol);
//   the peer check (the shell's own processes only) still applies.
// - localTools (`tavero serve`): local programs such as curl and test
//   scripts, and no browser page. Requests must carry the header
//   "X-Tavero-Client" (any value): a browser page cannot send a header of
//   its own choosing to another origin without the server's consent to a
//   preflight, which the bridge never gives. Requests with an Origin or
//   Sec-Fetch headers (only browsers send them) are refused too.
// Both: the Host must be a loopback name with the bridge's port (a web site
// whose name was re-pointed at 127.0.0.1 cannot talk to the bridge), and a
// web site's Origin is refused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "net/HTTPMessage.h"

namespace tavero::bridge {

class BridgeAccessPolicy {
 public:
  enum class Clients { appPages, localTools };

  BridgeAccessPolicy() = default;
  // `developmentOrigin` ("http://127.0.0.1:5173"; empty: none) is the one
  // web origin whose pages are the application's (tavero run --dev-server):
  // its requests pass the origin check and still need the token.
  BridgeAccessPolicy(Clients clients, std::string pageToken, bool allowPlainPages = false,
                     std::string developmentOrigin = {})
      : clients_(clients),
        pageToken_(std::move(pageToken)),
        allowPlainPages_(allowPlainPages),
        developmentOrigin_(std::move(developmentOrigin)) {}

  // Why `request` may not reach the modules (for the log), or nothing when it
  // may. `port` is the bridge's; `queryToken` the query's "__token", if any.
  std::optional<std::string> refusal(const net::HTTPRequestMessage& request, uint16_t port,
                                     std::optional<std::string_view> queryToken) const;

  Clients clients() const { return clients_; }
  const std::string& pageToken() const { return pageToken_; }

  // The shell's own pages are file pages: they send no Origin, "null", or a
  // file:// origin; or pages of the development server's exact origin. A web
  // site's origin is refused.
  bool isAllowedOrigin(std::string_view origin) const;
  // A loopback name with the bridge's port. HTTP/1.0 clients may leave Host out.
  static bool isAllowedHost(std::string_view host, uint16_t port);

 private:
  std::optional<std::string> appPageRefusal(const net::HTTPRequestMessage& request,
                                            std::optional<std::string_view> queryToken) const;
  static std::optional<std::string> localToolRefusal(const net::HTTPRequestMessage& request);

  Clients clients_ = Clients::localTools;
  std::string pageToken_;
  bool allowPlainPages_ = false;
  std::string developmentOrigin_;
};

}  // namespace tavero::bridge
