#include "net/HTTPServer.h"

#include <string>
#include <vector>

#include "log/Log.h"
#include "log/RefusalLog.h"

namespace tavero::net {

void resetConnection(boost::asio::ip::tcp::socket& socket) {
  boost::system::error_code ignored;
  socket.set_option(boost::asio::socket_base::linger(true, 0), ignored);
  socket.close(ignored);
}

HTTPServer::HTTPServer(boost::asio::io_context& io)
    : QLTCPServer(io), state_(std::make_shared<HTTPServerState>()) {}

HTTPServer::~HTTPServer() { state_->delegate = nullptr; }

void HTTPServer::closeAllConnections() {
  std::vector<std::shared_ptr<HTTPConnection>> open;
  for (auto& [raw, connection] : state_->openConnections) open.push_back(connection);
  for (auto& connection : open) connection->invalidate();
  state_->openConnections.clear();
}

void HTTPServer::handleNewConnection(boost::asio::ip::tcp::socket socket,
                                     std::optional<boost::asio::ip::tcp::endpoint> peer) {
  if (state_->openConnections.size() >= state_->limits.maxConnections) {
    log::refusal("HTTP: " + std::to_string(state_->limits.maxConnections) +
                 " connections are open; refusing another");
    resetConnection(socket);
    return;
  }
  if (auto* delegate = state_->delegate) {
    boost::system::error_code ec;
    auto local = socket.local_endpoint(ec);
    if (ec || !delegate->shouldAcceptConnection(peer, local)) {
      resetConnection(socket);
      return;
    }
  }
  auto connection = std::make_shared<HTTPConnection>(context(), std::move(socket), peer, state_);
  connection->start();
  if (auto* delegate = state_->delegate) delegate->didMakeNewConnection(*this, *connection);
}

}  // namespace tavero::net
