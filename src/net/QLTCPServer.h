// Listens on one TCP port of the loopback interface and hands each accepted
// connection to a subclass (handleNewConnection) or to its serverDelegate.
//
// Thread rules: start(), stop() and the accept handlers run on the thread of
// the io_context given to the constructor (the bridge's worker thread).
// port() may be read from any thread.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "net/TCPServerError.h"

namespace tavero::net {

// Opens `acceptor` on a new socket of `protocol` that is close-on-exec from
// its creation: a child process another thread starts in between cannot
// inherit it, as it could with the flag set afterwards.
boost::system::error_code openCloseOnExec(boost::asio::ip::tcp::acceptor& acceptor,
                                          const boost::asio::ip::tcp& protocol);

class QLTCPServer;

class TCPServerDelegate {
 public:
  virtual ~TCPServerDelegate() = default;
  virtual void didReceiveConnection(QLTCPServer& server, boost::asio::ip::tcp::socket socket,
                                    std::optional<boost::asio::ip::tcp::endpoint> peer) = 0;
};

class QLTCPServer {
 public:
  explicit QLTCPServer(boost::asio::io_context& io);
  // REQUIRES: stopped (stop() ran on the io thread) or the io_context no longer runs.
  virtual ~QLTCPServer();

  QLTCPServer(const QLTCPServer&) = delete;
  QLTCPServer& operator=(const QLTCPServer&) = delete;

  // The port to listen on; 0 lets the system choose, and after start() the
  // port holds the chosen one.
  uint16_t port() const { return port_.load(); }
  void setPort(uint16_t port) { port_.store(port); }

  void setServerDelegate(TCPServerDelegate* delegate) { serverDelegate_ = delegate; }
  TCPServerDelegate* serverDelegate() const { return serverDelegate_; }

  // Opens the listening socket on 127.0.0.1 (with SO_REUSEADDR), and on ::1
  // too when the machine has IPv6 loopback and the port is free there. A
  // second start while listening changes nothing. Errors are in
  // TCPServerError's domain and leave no socket open.
  std::error_code start();
  // Closes the listening sockets; open connections are not touched.
  void stop();
  bool isListening() const { return !listeners_.empty(); }

  // With this set, start() also fails when the port is taken on ::1 (on a
  // machine with IPv6): clients that resolve "localhost" to ::1 first would
  // otherwise reach whatever program listens there instead of this server.
  void setRequireEveryLoopbackFamily(bool required) { requireEveryFamily_ = required; }

  // Stops serving without giving up the port, so that no other program can
  // take it meanwhile: connections are reset as they arrive. resume() serves
  // again; start() and stop() end a pause too.
  void pause() { paused_ = true; }
  void resume() { paused_ = false; }

  boost::asio::io_context& context() { return io_; }

 protected:
  // Hand-over of an accepted connection. The base tells serverDelegate, if any.
  virtual void handleNewConnection(boost::asio::ip::tcp::socket socket,
                                   std::optional<boost::asio::ip::tcp::endpoint> peer);

 private:
  struct Listener;
  // The system's error of the socket, bind or listen call that failed.
  boost::system::error_code openListener(const boost::asio::ip::address& address, uint16_t port,
                                         std::shared_ptr<Listener>& out);
  void acceptNext(const std::shared_ptr<Listener>& listener);

  boost::asio::io_context& io_;
  std::atomic<uint16_t> port_{0};
  TCPServerDelegate* serverDelegate_ = nullptr;
  std::vector<std::shared_ptr<Listener>> listeners_;  // io thread only
  bool requireEveryFamily_ = false;                    // io thread only
  bool paused_ = false;                                // io thread only
};

}  // namespace tavero::net
