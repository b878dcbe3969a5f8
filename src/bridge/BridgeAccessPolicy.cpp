#include "bridge/BridgeAccessPolicy.h"

#include <boost/beast/http/field.hpp>
#include <cctype>
#include <string>

namespace tavero::bridge {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

bool BridgeAccessPolicy::isAllowedOrigin(std::string_view origin) {
  return origin.empty() || origin == "null" || startsWithIgnoringCase(origin, "file://");
}

bool BridgeAccessPolicy::isAllowedHost(std::string_view host) const {
  size_t colon = host.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::string_view name = host.substr(0, colon);
  if (host.substr(colon + 1) != std::to_string(port_)) return false;
  return equalsIgnoringCase(name, "localhost") || name == "127.0.0.1" || name == "[::1]";
}

bool BridgeAccessPolicy::allows(const net::HTTPRequestMessage& request) const {
  namespace http = boost::beast::http;
  auto origin = request.find(http::field::origin);
  if (origin != request.end() && !isAllowedOrigin(origin->value())) return false;
  auto host = request.find(http::field::host);
  if (host == request.end()) return request.version() < 11;
  return isAllowedHost(host->value());
}

}  // namespace tavero::bridge
