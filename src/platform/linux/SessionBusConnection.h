// A connection of the shell's own to the user's session bus (GDBus), made
// from the address in the environment at the time of the call. Each
// service that talks on the bus has its own connection, with its own unique
// name: no service depends on when another one connected, and tests can
// point a service at a private bus.
#pragma once

#include <string>
#include <variant>

typedef struct _GDBusConnection GDBusConnection;

namespace tavero::platform {

// A new connection (the caller unrefs it), or a message saying why there is none.
std::variant<GDBusConnection*, std::string> connectToSessionBus();

}  // namespace tavero::platform
