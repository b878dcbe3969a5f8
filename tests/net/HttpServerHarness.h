// An HTTPServer on its own worker thread, listening on a free loopback port,
// with a delegate that records requests and answers them when told to.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "net/HTTPServer.h"
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

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::shared_ptr<HTTPServerRequest>> requests_;
};

class HttpServerHarness {
 public:
  explicit HttpServerHarness(HTTPConnectionDelegate* delegate, HTTPLimits limits = {}) {
    worker_.performAndWait([&] {
      server_.setConnectionDelegate(delegate);
      server_.setLimits(limits);
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

 private:
  QLWorkerThread worker_;
  HTTPServer server_{worker_.context()};
};

}  // namespace tavero::net
