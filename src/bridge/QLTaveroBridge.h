// The local HTTP server through which pages reach the modules, and the
// page channel that carries the same calls without the network.
//
// Every HTTP request is a GET whose query names a command
// ("SQLite#getVersion": a module class, with or without its "TQ" prefix,
// and one of its operations) and carries the arguments; a POST with a form
// body (application/x-www-form-urlencoded) carries the same query in its
// body, for arguments too long for a request line. A request with a true
// "sync" gets the operation's answer as JSON text; any other is queued on
// the command dispatch queue and answered at once with an empty body (its
// results reach the page later, by callback script). Who may call is the
// access policy's decision (BridgeAccessPolicy).
//
// Thread rules: the listener and every connection run on the bridge's own
// worker thread; synchronous operations run on the dispatch queue's
// threads, in order per connection (a waiting operation never holds up the
// worker or other clients), and queued ones on the dispatch queue.
// startServer/stopServer may be called from any thread and wait.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <system_error>

#include "bridge/BridgeAccessPolicy.h"
#include "bridge/CallbackReplies.h"
#include "bridge/CallsInFlight.h"
#include "bridge/CommandDispatcher.h"
#include "bridge/CommandDispatchQueue.h"
#include "bridge/ModuleRegistry.h"
#include "bridge/PageMessageChannel.h"
#include "bridge/PeerVerifier.h"
#include "net/HTTPServer.h"
#include "net/QLWorkerThread.h"

namespace tavero::bridge {

class QLTaveroBridge : public net::HTTPServer, private net::HTTPConnectionDelegate {
 public:
  static constexpr uint16_t kDefaultPort = 3000;
  // Form bodies may carry large values (a page's 4 MB text); the bodies
  // being received on all connections together stay within the HTTP
  // server's budget.
  static constexpr size_t kMaxFormBodyBytes = 64 * 1024 * 1024;

  struct Options {
    uint16_t port = kDefaultPort;  // 0: the system chooses; port() tells
    // When the port is taken (on 127.0.0.1 or ::1), listen on a free one
    // instead of failing. The pages learn it (see host/PageClient).
    bool otherPortWhenTaken = false;
    // stopServer() keeps the port (refusing every connection) so that no
    // other program can take it while the application is in the background.
    bool keepPortWhileStopped = false;
    BridgeAccessPolicy policy = BridgeAccessPolicy();  // default: local tools only
    // When set, only connections it accepts are served, from the first one
    // on; the others are reset before anything is read from them.
    std::shared_ptr<PeerVerifier> peerVerifier = nullptr;
  };

  // Creates the worker thread and the dispatch queue and starts listening.
  // `modules` must outlive the bridge. A port that cannot be bound is
  // logged; startServer() says why.
  explicit QLTaveroBridge(ModuleRegistry& modules, uint16_t port = kDefaultPort);
  QLTaveroBridge(ModuleRegistry& modules, Options options);
  // Stops listening, closes every connection, waits for queued operations.
  ~QLTaveroBridge() override;

  // Opens the listener (a second call while listening changes nothing).
  std::error_code startServer();
  // Stops serving: new connections are refused, open ones closed (a request
  // that comes in meanwhile is answered 503), channel messages refused.
  // Queued operations go on.
  void stopServer();
  void restartServer();
  // Listening and not stopped: the page channel serves only then too.
  bool isServing() const { return serving_.load(); }

  net::QLWorkerThread& worker() { return *worker_; }
  CommandDispatcher& dispatcher() { return dispatcher_; }
  // The calls under way on either road (going to the background waits for them).
  const CallsInFlight& callsInFlight() const { return calls_; }
  // Callback ids answered through the page channel's replies: module
  // answers go here first (see CallbackReplies).
  CallbackReplies& callbackReplies() { return callbackReplies_; }
  // The page channel of an application bridge (null for local tools).
  PageMessageChannel* pageChannel() { return pageChannel_.get(); }

  // From now on, only connections that `verifier` accepts are served; the
  // others are reset before anything is read from them.
  void setPeerVerifier(std::unique_ptr<PeerVerifier> verifier);

 private:
  QLTaveroBridge(std::unique_ptr<net::QLWorkerThread> worker, ModuleRegistry& modules, Options options);

  bool shouldAcceptConnection(const std::optional<boost::asio::ip::tcp::endpoint>& peer,
                              const boost::asio::ip::tcp::endpoint& local) override;
  void didReceiveRequest(net::HTTPConnection& connection,
                         const std::shared_ptr<net::HTTPServerRequest>& request) override;
  std::error_code listen();
  std::optional<std::string_view> queryOf(const net::HTTPRequestMessage& request) const;
  void dispatchRequest(net::HTTPConnection& connection, const std::shared_ptr<net::HTTPServerRequest>& request);

  std::unique_ptr<net::QLWorkerThread> worker_;
  ModuleRegistry& modules_;
  const Options options_;
  std::shared_ptr<PeerVerifier> peerVerifier_;  // worker thread only (set before it listens)
  CallsInFlight calls_;  // before the queue: queued operations hold it
  CallbackReplies callbackReplies_;  // before the queue: queued operations answer into it
  // Stopped first when the bridge goes, so that no queued operation outlives
  // the objects it uses.
  std::unique_ptr<CommandDispatchQueue> commandDispatchQueue_ = std::make_unique<CommandDispatchQueue>();
  CommandDispatcher dispatcher_;
  std::unique_ptr<PageMessageChannel> pageChannel_;
  std::atomic<bool> serving_{false};
};

}  // namespace tavero::bridge
