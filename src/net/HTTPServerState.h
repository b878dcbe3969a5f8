// What HTTP connections share with the server that accepted them. The
// connections keep it alive, so a connection may outlive its server object.
// All fields are used on the server's io thread only.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <unordered_map>

#include "net/TimerSource.h"

namespace tavero::net {

class HTTPConnection;
class HTTPConnectionDelegate;

struct HTTPLimits {
  size_t maxHeaderBytes = 64 * 1024;   // larger headers get 431
  size_t maxBodyBytes = 1024 * 1024;   // larger bodies get 413
  // What the bodies being received on all connections together may hold;
  // a request whose declared body does not fit gets 503.
  size_t maxBufferedBodyBytes = 256 * 1024 * 1024;
  size_t maxConnections = 256;         // further connections are closed at once
  size_t maxPipelinedRequests = 32;    // reading pauses while this many await answers
  // A connection with nothing in progress is closed after this long.
  std::chrono::milliseconds idleTimeout = std::chrono::seconds(30);
  // A request must arrive whole within this time of its first byte.
  std::chrono::milliseconds requestTimeout = std::chrono::seconds(10);
};

struct HTTPServerState {
  HTTPLimits limits;
  // Answers requests; null means the connection serves files from
  // documentRoot by itself. Cleared when the server goes away.
  HTTPConnectionDelegate* delegate = nullptr;
  std::filesystem::path documentRoot;
  // A connection owns itself through this map from start() until it is
  // invalidated: it may sit idle for a long time waiting for a late answer.
  std::unordered_map<const HTTPConnection*, std::shared_ptr<HTTPConnection>> openConnections;
  // Declared body bytes of the requests being received or waiting for
  // their answer, on all connections.
  size_t bufferedBodyBytes = 0;
  // Bytes read from all connections so far.
  size_t bytesReceived = 0;
  // The connections' deadlines and lingering run on these timers.
  std::shared_ptr<TimerSource> timers = TimerSource::steady();
};

}  // namespace tavero::net
