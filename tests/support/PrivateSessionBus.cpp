#include "support/PrivateSessionBus.h"

#include <gio/gio.h>

namespace tavero::testing {

PrivateSessionBus::PrivateSessionBus() : bus_(g_test_dbus_new(G_TEST_DBUS_NONE)) {
  g_test_dbus_up(bus_);
  address_ = g_test_dbus_get_bus_address(bus_);
}

PrivateSessionBus::~PrivateSessionBus() {
  g_test_dbus_down(bus_);
  g_object_unref(bus_);
}

}  // namespace tavero::testing
