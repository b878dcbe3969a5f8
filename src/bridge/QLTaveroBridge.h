// The local HTTP server through which pages reach the modules.
//
// Every request is a GET whose query names a command ("SQLite#getVersion":
// a module class, with or without its "TQ" prefix, and one of its
// operations) and carries the arguments. A request with a true "sync" runs
// its operation at once on the worker thread and gets the operation's answer
// as JSON text; any other is queued on the command dispatch queue and
// answered at once with an empty body (its results reach the page later, by
// callback script).
//
// Thread rules: the listener, every connection and every sync operation run
// on the bridge's own worker thread; queued operations on the dispatch
// queue. startServer/stopServer may be called from any thread and wait.
#pragma once

#include <cstdint>
#include <memory>
#include <system_error>

#include "bridge/BridgeAccessPolicy.h"
#include "bridge/CommandDispatchQueue.h"
#include "bridge/ModuleRegistry.h"
#include "bridge/PeerVerifier.h"
#include "net/HTTPServer.h"
#include "net/QLWorkerThread.h"

namespace tavero::bridge {

class QLTaveroBridge : public net::HTTPServer, private net::HTTPConnectionDelegate {
 public:
  static constexpr uint16_t kDefaultPort = 3000;

  // Creates the worker thread and the dispatch queue and starts listening on
  // `port` (0: the system chooses; port() tells). `modules` must outlive the
  // bridge. A port that cannot be bound is logged; startServer() says why.
  explicit QLTaveroBridge(ModuleRegistry& modules, uint16_t port = kDefaultPort);
  // Stops listening, closes every connection, waits for queued operations.
  ~QLTaveroBridge() override;

  // Opens the listener (a second call while listening changes nothing).
  std::error_code startServer();
  // Closes the listener; open connections and queued operations go on.
  void stopServer();
  void restartServer();

  net::QLWorkerThread& worker() { return *worker_; }

  // From now on, only connections that `verifier` accepts reach the modules;
  // the others get 403. Without one, every local client is served.
  void setPeerVerifier(std::unique_ptr<PeerVerifier> verifier);

 private:
  QLTaveroBridge(std::unique_ptr<net::QLWorkerThread> worker, ModuleRegistry& modules, uint16_t port);

  void didReceiveRequest(net::HTTPConnection& connection,
                         const std::shared_ptr<net::HTTPServerRequest>& request) override;
  net::HTTPResponseMessage dispatch(net::HTTPConnection& connection, const net::HTTPRequestMessage& request);
  bool isShellConnection(net::HTTPConnection& connection);
  net::HTTPResponseMessage dispatchCommand(Arguments arguments, std::shared_ptr<const ArgumentTexts> texts);

  std::unique_ptr<net::QLWorkerThread> worker_;
  ModuleRegistry& modules_;
  std::unique_ptr<PeerVerifier> peerVerifier_;  // worker thread only
  CommandDispatchQueue commandDispatchQueue_;
};

}  // namespace tavero::bridge
