#include "net/QLTCPServer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/address_v6.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <string>

#include "log/Log.h"

namespace tavero::net {

using boost::asio::ip::tcp;

namespace {

// Child processes (the web view's, among others) must not inherit our
// sockets: an inherited listening socket keeps the port busy after we
// close it, an inherited connection keeps the peer from seeing its end.
void closeOnExec(int fd) {
  int flags = ::fcntl(fd, F_GETFD);
  if (flags >= 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

}  // namespace

boost::system::error_code openCloseOnExec(tcp::acceptor& acceptor, const tcp& protocol) {
  int fd = ::socket(protocol.family(), SOCK_STREAM | SOCK_CLOEXEC, protocol.protocol());
  if (fd < 0) return {errno, boost::system::system_category()};
  boost::system::error_code ec;
  acceptor.assign(protocol, fd, ec);
  if (ec) ::close(fd);
  return ec;
}

namespace {

class TCPServerErrorCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "TCPServerErrorDomain"; }
  std::string message(int code) const override {
    switch (static_cast<TCPServerError>(code)) {
      case TCPServerError::couldNotBindToIPv4Address: return "could not bind the listening address";
      case TCPServerError::noSocketsAvailable: return "no socket could be created";
    }
    return "unknown TCP server error";
  }
};

}  // namespace

const std::error_category& tcpServerErrorCategory() {
  static const TCPServerErrorCategory category;
  return category;
}

// One listening socket. Accept handlers hold it alive; `open` tells them
// whether the server still wants connections from it, so a handler that runs
// after stop() never touches the server.
struct QLTCPServer::Listener {
  explicit Listener(boost::asio::io_context& io) : acceptor(io) {}
  tcp::acceptor acceptor;
  bool open = true;
};

QLTCPServer::QLTCPServer(boost::asio::io_context& io) : io_(io) {}

QLTCPServer::~QLTCPServer() {
  for (auto& listener : listeners_) listener->open = false;
}

boost::system::error_code QLTCPServer::openListener(const boost::asio::ip::address& address, uint16_t port,
                                                    std::shared_ptr<Listener>& out) {
  auto listener = std::make_shared<Listener>(io_);
  boost::system::error_code ec;
  tcp::endpoint endpoint(address, port);
  ec = openCloseOnExec(listener->acceptor, endpoint.protocol());
  if (ec) return ec;
  listener->acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
  if (address.is_v6()) listener->acceptor.set_option(boost::asio::ip::v6_only(true), ec);
  ec.clear();
  listener->acceptor.bind(endpoint, ec);
  if (!ec) listener->acceptor.listen(boost::asio::socket_base::max_listen_connections, ec);
  if (ec) {
    log::debug("TCP server: cannot listen on " + address.to_string() + ":" + std::to_string(port) + ": " +
               ec.message());
    return ec;
  }
  out = std::move(listener);
  return {};
}

namespace {

// The machine has no IPv6 loopback at all: nobody can listen there either.
bool meansNoIPv6(const boost::system::error_code& ec) {
  return ec == boost::asio::error::address_family_not_supported ||
         ec == boost::system::errc::address_not_available || ec == boost::system::errc::protocol_not_supported;
}

}  // namespace

std::error_code QLTCPServer::start() {
  if (isListening()) {
    paused_ = false;
    return {};
  }
  std::shared_ptr<Listener> v4;
  if (auto ec = openListener(boost::asio::ip::address_v4::loopback(), port(), v4)) {
    bool noSocket = ec.value() == EMFILE || ec.value() == ENFILE || ec.value() == ENOBUFS ||
                    ec.value() == ENOMEM || ec.value() == EAFNOSUPPORT || ec.value() == EPROTONOSUPPORT;
    return noSocket ? TCPServerError::noSocketsAvailable : TCPServerError::couldNotBindToIPv4Address;
  }
  uint16_t boundPort = v4->acceptor.local_endpoint().port();

  // IPv6 loopback: pages use "localhost", which may resolve to ::1 first.
  std::shared_ptr<Listener> v6;
  if (auto ec = openListener(boost::asio::ip::address_v6::loopback(), boundPort, v6)) {
    if (requireEveryFamily_ && !meansNoIPv6(ec)) {
      log::debug("TCP server: port " + std::to_string(boundPort) + " is taken on ::1");
      boost::system::error_code ignored;
      v4->acceptor.close(ignored);
      return TCPServerError::couldNotBindToIPv4Address;
    }
    log::debug("TCP server: no IPv6 loopback listener on port " + std::to_string(boundPort));
  }
  port_.store(boundPort);
  listeners_.push_back(v4);
  if (v6) listeners_.push_back(v6);
  paused_ = false;
  for (auto& listener : listeners_) acceptNext(listener);
  return {};
}

void QLTCPServer::stop() {
  paused_ = false;
  for (auto& listener : listeners_) {
    listener->open = false;
    boost::system::error_code ignored;
    listener->acceptor.close(ignored);
  }
  listeners_.clear();
}

void QLTCPServer::acceptNext(const std::shared_ptr<Listener>& listener) {
  listener->acceptor.async_accept(
      [this, listener](const boost::system::error_code& ec, tcp::socket socket) {
        if (!listener->open) return;
        if (ec == boost::asio::error::operation_aborted) return;
        if (ec) {
          // Running out of descriptors must not end the listener, nor spin:
          // log, pause briefly, and accept again.
          log::warning("TCP server: accept failed: " + ec.message());
          auto pause = std::make_shared<boost::asio::steady_timer>(io_, std::chrono::milliseconds(50));
          pause->async_wait([this, listener, pause](const boost::system::error_code&) {
            if (listener->open) acceptNext(listener);
          });
          return;
        }
        closeOnExec(socket.native_handle());
        if (paused_) {
          boost::system::error_code ignored;
          socket.set_option(boost::asio::socket_base::linger(true, 0), ignored);
          socket.close(ignored);
          if (listener->open) acceptNext(listener);
          return;
        }
        boost::system::error_code peerError;
        auto peer = socket.remote_endpoint(peerError);
        handleNewConnection(std::move(socket),
                            peerError ? std::nullopt : std::optional<tcp::endpoint>(peer));
        if (listener->open) acceptNext(listener);
      });
}

void QLTCPServer::handleNewConnection(tcp::socket socket, std::optional<tcp::endpoint> peer) {
  if (serverDelegate_) serverDelegate_->didReceiveConnection(*this, std::move(socket), peer);
}

}  // namespace tavero::net

