// A session bus of the test's own (GLib's GTestDBus runs a dbus-daemon):
// while it exists, DBUS_SESSION_BUS_ADDRESS points at it, for the test's
// own connections and for the programs it starts.
#pragma once

#include <string>

typedef struct _GTestDBus GTestDBus;

namespace tavero::testing {

class PrivateSessionBus {
 public:
  PrivateSessionBus();
  ~PrivateSessionBus();
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  const std::string& address() const { return address_; }

 private:
  GTestDBus* bus_;
  std::string address_;
};

}  // namespace tavero::testing
