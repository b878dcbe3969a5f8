#include "support/IPv6Squatter.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavero::testing {

IPv6Squatter::IPv6Squatter() {
  fd_ = ::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  int one = 1;
  ::setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd_, 16) != 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  socklen_t length = sizeof address;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin6_port);
}

IPv6Squatter::~IPv6Squatter() {
  if (fd_ >= 0) ::close(fd_);
}

bool IPv6Squatter::anyoneConnected() const {
  int connection = ::accept(fd_, nullptr, nullptr);
  if (connection < 0) return false;
  ::close(connection);
  return true;
}

}  // namespace tavero::testing
