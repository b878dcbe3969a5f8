// Decides whether a connection to the bridge comes from the shell's own web
// views. Any program on the machine can reach a loopback port (and any web
// page in a browser can make it send requests there), so while the shell
// runs a web application only its own web views may use the bridge.
#pragma once

#include <boost/asio/ip/tcp.hpp>

namespace tavero::bridge {

class PeerVerifier {
 public:
  virtual ~PeerVerifier() = default;
  // `peer` is the client's end of the connection, `local` the bridge's.
  // Called on the bridge's worker thread, once per connection.
  virtual bool isShellPeer(const boost::asio::ip::tcp::endpoint& peer,
                           const boost::asio::ip::tcp::endpoint& local) = 0;
};

}  // namespace tavero::bridge
