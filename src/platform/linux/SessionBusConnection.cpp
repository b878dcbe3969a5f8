#include "platform/linux/SessionBusConnection.h"

#include <gio/gio.h>

namespace tavero::platform {

std::variant<GDBusConnection*, std::string> connectToSessionBus() {
  GError* error = nullptr;
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!address) {
    std::string message = std::string("no session bus: ") + error->message;
    g_error_free(error);
    return message;
  }
  GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  g_free(address);
  if (!connection) {
    std::string message = std::string("cannot reach the session bus: ") + error->message;
    g_error_free(error);
    return message;
  }
  // The bus going away must not end the shell.
  g_dbus_connection_set_exit_on_close(connection, FALSE);
  return connection;
}

}  // namespace tavero::platform
