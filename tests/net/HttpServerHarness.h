// An HTTPServer on its own worker thread, listening on a free loopback port,
// with a delegate that records requests and answers them when told to.
// With a ManualTimerSource the connections' deadlines pass only when the
// test advances that clock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "net/HTTPServer.h"
#include "net/ManualTimerSource.h"
#include "net/QLWorkerThread.h"

namespace tavero::net {

class RecordingDelegate : public HTTPConnectionDelegate {
 public:
  // Answers each request at once with its target as the body, unless
  // `answerLater` is set; then the test answers through requests().
  bool answerLater = false;

  void didReceiveRequest(HTTPConnection&, const std::shared_ptr<HTTPServerRequest>& request) override {
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    changed_.notify_all();
    if (!answerLater) request->setResponse(makeHTTPResponse(HTTPStatus::ok, std::string(request->request().target())));
  }

  // Waits until `n` requests arrived; returns them (empty on time-out).
  std::vector<std::shared_ptr<HTTPServerRequest>> waitForRequests(size_t n) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::seconds(5), [&] { return requests_.size() >= n; })) return {};
    return requests_;
  }
  size_t count() {
    std::lock_guard lock(mutex_);
    return requests_.size();
  }

  void didMakeNewConnection(HTTPServer&, HTTPConnection&) override {
    {
      std::lock_guard lock(mutex_);
      ++connections_;
    }
    changed_.notify_all();
  }
  // Waits until `n` connections were made in all; false on time-out.
  bool waitForConnections(size_t n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return connections_ >= n; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::shared_ptr<HTTPServerRequest>> requests_;
  size_t connections_ = 0;
};

class HttpServerHarness {
 public:
  explicit HttpServerHarness(HTTPConnectionDelegate* delegate, HTTPLimits limits = {},
                             std::shared_ptr<ManualTimerSource> timers = nullptr)
      : timers_(std::move(timers)) {
    worker_.performAndWait([&] {
      server_.setConnectionDelegate(delegate);
      server_.setLimits(limits);
      if (timers_) server_.setTimerSource(timers_);
      return server_.start();
    });
  }
  ~HttpServerHarness() {
    worker_.performAndWait([&] {
      server_.stop();
      server_.closeAllConnections();
    });
  }
  uint16_t port() const { return server_.port(); }
  HTTPServer& server() { return server_; }
  QLWorkerThread& worker() { return worker_; }
  size_t openConnections() { return worker_.performAndWait([&] { return server_.openConnectionCount(); }); }

  // Moves the manual clock on, on the server's thread. REQUIRES: made with one.
  void advance(std::chrono::milliseconds duration) {
    worker_.performAndWait([&] { timers_->advance(duration); });
  }
  ManualTimerSource& timers() { return *timers_; }

  // Checks `condition` on the server's thread until it holds; false when it
  // does not within five seconds.
  bool waitOnServer(const std::function<bool(HTTPServer&)>& condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!worker_.performAndWait([&] { return condition(server_); })) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::yield();
    }
    return true;
  }
  // Waits until the server has read `bytes` bytes from all connections in all.
  bool waitForBytesReceived(size_t bytes) {
    return waitOnServer([bytes](HTTPServer& server) { return server.bytesReceived() >= bytes; });
  }

 private:
  std::shared_ptr<ManualTimerSource> timers_;
  QLWorkerThread worker_;
  HTTPServer server_{worker_.context()};
};

}  // namespace tavero::net
