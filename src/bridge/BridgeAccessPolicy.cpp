#include "bridge/BridgeAccessPolicy.h"

#include <boost/beast/http/field.hpp>
#include <string>

#include "base/AsciiText.h"
#include "bridge/PageToken.h"

namespace tavero::bridge {
namespace http = boost::beast::http;

namespace {

}  // namespace

bool BridgeAccessPolicy::isAllowedOrigin(std::string_view origin) const {
  if (!developmentOrigin_.empty() && clients_ == Clients::appPages && origin == developmentOrigin_) return true;
  return origin.empty() || origin == "null" || base::startsWithIgnoringAsciiCase(origin, "file://");
}

bool BridgeAccessPolicy::isAllowedHost(std::string_view host, uint16_t port) {
  size_t colon = host.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::string_view name = host.substr(0, colon);
  if (host.substr(colon + 1) != std::to_string(port)) return false;
  return base::equalsIgnoringAsciiCase(name, "localhost") || name == "127.0.0.1" || name == "[::1]";
}

std::optional<std::string> BridgeAccessPolicy::refusal(const net::HTTPRequestMessage& request, uint16_t port,
                                                       std::optional<std::string_view> queryToken) const {
  auto origin = request.find(http::field::origin);
  if (origin != request.end() && !isAllowedOrigin(origin->value()))
    return "it comes from the web site " + std::string(origin->value());
  auto host = request.find(http::field::host);
  if (host == request.end() ? request.version() >= 11 : !isAllowedHost(host->value(), port))
    return "its Host \"" + std::string(request[http::field::host]) + "\" is not the bridge's loopback address";
  return clients_ == Clients::appPages ? appPageRefusal(request, queryToken) : localToolRefusal(request);
}

std::optional<std::string> BridgeAccessPolicy::appPageRefusal(const net::HTTPRequestMessage& request,
                                                              std::optional<std::string_view> queryToken) const {
  std::optional<std::string_view> token = queryToken;
  if (auto header = request.find("X-Tavero-Token"); header != request.end()) token = header->value();
  if (token) {
    if (pageTokensMatch(pageToken_, *token)) return std::nullopt;
    return std::string("its page token is wrong");
  }
  if (allowPlainPages_) return std::nullopt;
  return std::string("it carries no page token (only the application's own documents have it)");
}

std::optional<std::string> BridgeAccessPolicy::localToolRefusal(const net::HTTPRequestMessage& request) {
  if (request.find(http::field::origin) != request.end() || request.find("Sec-Fetch-Mode") != request.end() ||
      request.find("Sec-Fetch-Site") != request.end())
    return std::string("it comes from a browser page");
  if (request.find("X-Tavero-Client") == request.end())
    return std::string("it lacks the header X-Tavero-Client that local tools send");
  return std::nullopt;
}

}  // namespace tavero::bridge
