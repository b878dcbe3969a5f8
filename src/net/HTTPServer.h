// A TCP server whose connections speak HTTP: every accepted connection
// becomes an HTTPConnection. Without a connection delegate the connections
// serve files from the document root by themselves.
//
// Thread rules: as QLTCPServer; the setters are for the io thread, or for
// before start().
#pragma once

#include <filesystem>
#include <memory>

#include "net/HTTPConnection.h"
#include "net/HTTPServerState.h"
#include "net/QLTCPServer.h"

namespace tavero::net {

// Closes `socket` with a reset: the peer learns at once that it was refused,
// and the connection leaves no TIME_WAIT behind.
void resetConnection(boost::asio::ip::tcp::socket& socket);

class HTTPServer : public QLTCPServer {
 public:
  explicit HTTPServer(boost::asio::io_context& io);
  ~HTTPServer() override;

  void setConnectionDelegate(HTTPConnectionDelegate* delegate) { state_->delegate = delegate; }

  const std::filesystem::path& documentRoot() const { return state_->documentRoot; }
  void setDocumentRoot(std::filesystem::path root) { state_->documentRoot = std::move(root); }

  const HTTPLimits& limits() const { return state_->limits; }
  void setLimits(const HTTPLimits& limits) { state_->limits = limits; }

  // Where connections made from now on get their timers (steady time by default).
  void setTimerSource(std::shared_ptr<TimerSource> timers) { state_->timers = std::move(timers); }

  size_t openConnectionCount() const { return state_->openConnections.size(); }
  // Declared body bytes held or reserved on all connections now, and bytes
  // read from all connections so far (io thread; for tests and diagnostics).
  size_t bufferedBodyBytes() const { return state_->bufferedBodyBytes; }
  size_t bytesReceived() const { return state_->bytesReceived; }
  // Ends every open connection (io thread).
  void closeAllConnections();

 protected:
  void handleNewConnection(boost::asio::ip::tcp::socket socket,
                           std::optional<boost::asio::ip::tcp::endpoint> peer) override;

 private:
  std::shared_ptr<HTTPServerState> state_;
};

}  // namespace tavero::net
