// Another program holding a port: a socket listening on [::1] at a free
// port, as a development server (or a second app) would. It never accepts
// on its own, so a connection to it stays queued until anyoneConnected().
#pragma once

#include <cstdint>

namespace tavero::testing {

class IPv6Squatter {
 public:
  IPv6Squatter();
  ~IPv6Squatter();
  IPv6Squatter(const IPv6Squatter&) = delete;
  IPv6Squatter& operator=(const IPv6Squatter&) = delete;

  // False on a machine without an IPv6 loopback.
  bool ok() const { return fd_ >= 0; }
  uint16_t port() const { return port_; }
  // Whether a connection is waiting (taking it, without blocking).
  bool anyoneConnected() const;

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace tavero::testing
