// `tavero run --dev-server URL`: the start page comes from a development
// server on this machine (Vite and the like, with their hot module reload)
// instead of webapp/. Documents of exactly that origin get the page client
// and the page token, so the address is held to what cannot be anyone
// else's: http or https on a loopback address.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace tavero::app {

struct DevelopmentServer {
  std::string url;     // as the start page is loaded: "http://127.0.0.1:5173/"
  std::string origin;  // scheme, host and port (the default port left out): "http://127.0.0.1:5173"
  uint16_t port = 0;   // 5173 (80 or 443 when the URL names none)
};

// The server at `text`, or why it cannot be one: it must be an http or
// https URL whose host is 127.0.0.1, [::1] or localhost, without user
// name, password or spaces, with a port from 1 to 65535 if one is given.
std::variant<DevelopmentServer, std::string> developmentServerFromURL(std::string_view text);

}  // namespace tavero::app
