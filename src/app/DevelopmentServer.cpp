#include "app/DevelopmentServer.h"

#include <charconv>

#include "base/AsciiText.h"

namespace tavero::app {
namespace {

constexpr const char* kWhy =
    " (a development server must be on this machine: its pages get the page token, which reaches the "
    "user's files and databases)";

bool hasUnsafeCharacter(std::string_view text) {
  for (unsigned char c : text) {
    if (c <= ' ' || c == 0x7f || c == '\\' || c >= 0x80) return true;
  }
  return false;
}

// The port after the host, or 0 when `text` is not one.
unsigned portNumber(std::string_view text) {
  unsigned port = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || port > 65535) return 0;
  return port;
}

}  // namespace

std::variant<DevelopmentServer, std::string> developmentServerFromURL(std::string_view text) {
  const std::string quoted = "\"" + std::string(text) + "\"";
  if (text.empty() || hasUnsafeCharacter(text))
    return "--dev-server " + quoted + " is not a URL (spaces, backslashes and other characters need escaping)";
  const size_t schemeEnd = text.find("://");
  const std::string scheme = base::asciiLowercased(text.substr(0, schemeEnd == std::string_view::npos ? 0 : schemeEnd));
  if (scheme != "http" && scheme != "https")
    return "--dev-server " + quoted + " is not an http:// or https:// URL";
  std::string_view rest = text.substr(schemeEnd + 3);
  const size_t authorityEnd = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, authorityEnd);
  const std::string_view tail = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
  if (authority.find('@') != std::string_view::npos)
    return "--dev-server " + quoted + " has a user name or password; leave them out";

  std::string_view host = authority;
  std::string_view port;
  if (authority.starts_with('[')) {
    const size_t close = authority.find(']');
    host = authority.substr(0, close == std::string_view::npos ? authority.size() : close + 1);
    std::string_view after = authority.substr(host.size());
    if (!after.empty() && !after.starts_with(':')) return "--dev-server " + quoted + " has a malformed host";
    if (!after.empty()) port = after.substr(1);
  } else if (size_t colon = authority.find(':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  const std::string lowerHost = base::asciiLowercased(host);
  if (lowerHost != "127.0.0.1" && lowerHost != "[::1]" && lowerHost != "localhost")
    return "--dev-server " + quoted + ": the host must be 127.0.0.1, [::1] or localhost, not \"" + std::string(host) +
           "\"" + kWhy;
  const unsigned defaultPort = scheme == "http" ? 80 : 443;
  unsigned portValue = defaultPort;
  if (authority.ends_with(':') || !port.empty()) {
    portValue = portNumber(port);
    if (portValue == 0) return "--dev-server " + quoted + ": the port must be a number from 1 to 65535";
  }

  DevelopmentServer server;
  server.origin = scheme + "://" + lowerHost + (portValue == defaultPort ? "" : ":" + std::to_string(portValue));
  server.port = static_cast<uint16_t>(portValue);
  server.url = server.origin + (tail.empty() || tail.front() != '/' ? "/" + std::string(tail) : std::string(tail));
  return server;
}

}  // namespace tavero::app
