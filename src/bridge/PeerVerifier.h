// Decides whether a connection to the bridge comes from a client it serves.
// Any program on the machine can reach a loopback port (and any web page in
// a browser can make it send requests there): while the shell runs a web
// application only its own web views may use the bridge; `tavero serve`
// serves the programs of its own user.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <string>

namespace tavero::bridge {

class PeerVerifier {
 public:
  virtual ~PeerVerifier() = default;
  // `peer` is the client's end of the connection, `local` the bridge's.
  // Called on the bridge's worker thread, once per connection.
  virtual bool isShellPeer(const boost::asio::ip::tcp::endpoint& peer,
                           const boost::asio::ip::tcp::endpoint& local) = 0;
  // Why a refused connection was refused, for the log ("it does not come
  // from the shell's web views").
  virtual std::string refusalReason() const = 0;
};

}  // namespace tavero::bridge
