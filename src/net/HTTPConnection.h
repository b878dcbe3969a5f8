// One accepted TCP connection speaking HTTP/1.1.
//
// A small state machine: read bytes, cut them into requests (Boost.Beast's
// parser), queue each request and hand it to the delegate, write the answer
// at the front of the queue once it is set, repeat. Answers go out strictly
// in arrival order; an answer may be set long after its request arrived.
// After the peer ends its input, the answers already due are still written,
// then the connection closes. Malformed input gets one error answer (400,
// 413, 431, 503 or 505) and the connection closes after it. A connection
// that sits idle, or sends a request too slowly, is closed (HTTPLimits);
// while it waits for one of our answers no time limit applies.
//
// Thread rules: everything runs on the thread of the server's io_context.
// The server's list of open connections keeps a connection alive from
// start() until invalidate(); pending operations end after it.
#pragma once

#include <array>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/http/parser.hpp>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "net/HTTPMessage.h"
#include "net/HTTPServerRequest.h"
#include "net/HTTPServerState.h"

namespace tavero::net {

class HTTPServer;

class HTTPConnectionDelegate {
 public:
  virtual ~HTTPConnectionDelegate() = default;
  // Once per request, in arrival order. Answer with request->setResponse(),
  // now or later (from any thread).
  virtual void didReceiveRequest(HTTPConnection& connection,
                                 const std::shared_ptr<HTTPServerRequest>& request) = 0;
  // After the last byte of the request's answer was handed to the socket.
  virtual void didSendResponse(HTTPConnection&, HTTPServerRequest&) {}
  // When the server has made a new connection.
  virtual void didMakeNewConnection(HTTPServer&, HTTPConnection&) {}
  // Before anything is read from a new connection: false resets it at once.
  // `peer` is absent when the peer's address cannot be read.
  virtual bool shouldAcceptConnection(const std::optional<boost::asio::ip::tcp::endpoint>& /*peer*/,
                                      const boost::asio::ip::tcp::endpoint& /*local*/) {
    return true;
  }
};

class HTTPConnection : public std::enable_shared_from_this<HTTPConnection> {
 public:
  HTTPConnection(boost::asio::io_context& io, boost::asio::ip::tcp::socket socket,
                 std::optional<boost::asio::ip::tcp::endpoint> peerAddress,
                 std::shared_ptr<HTTPServerState> server);
  ~HTTPConnection();

  // Starts reading. REQUIRES: held by a shared_ptr.
  void start();
  // Closes the socket and drops the requests not yet answered. Idempotent.
  void invalidate();

  const std::optional<boost::asio::ip::tcp::endpoint>& peerAddress() const { return peerAddress_; }

  // Whatever the delegate keeps with this connection (connection thread).
  const std::shared_ptr<void>& delegateData() const { return delegateData_; }
  void setDelegateData(std::shared_ptr<void> data) { delegateData_ = std::move(data); }

  // The oldest request without an answer, or null.
  std::shared_ptr<HTTPServerRequest> nextRequest() const;

  bool isConnectionThread() const { return io_.get_executor().running_in_this_thread(); }
  void post(std::function<void()> task) { boost::asio::post(io_, std::move(task)); }

  // Writes the front answer if it is set and no write is in progress.
  void processOutgoingBytes();

 private:
  using Parser = boost::beast::http::request_parser<boost::beast::http::string_body>;

  void readSome();
  void onRead(const boost::system::error_code& ec, size_t bytes);
  void processIncomingBytes();
  bool cutOneRequest();
  void enqueue(const std::shared_ptr<HTTPServerRequest>& request);
  void answerMalformed(HTTPStatus status, const boost::system::error_code& parseError);
  void performDefaultRequestHandling(HTTPServerRequest& request);
  void onWritten(const boost::system::error_code& ec, const std::shared_ptr<HTTPServerRequest>& request);
  void closeAfterLastAnswer();
  void drainUntilPeerCloses();
  bool mayRead() const;
  bool reserveBodyBytes();
  void releaseBodyBytes(size_t bytes);
  // Arms the idle or request deadline for what the connection is doing now.
  void updateDeadline();
  void deadlinePassed(bool requestInProgress);

  boost::asio::io_context& io_;
  boost::asio::ip::tcp::socket socket_;
  std::optional<boost::asio::ip::tcp::endpoint> peerAddress_;
  std::shared_ptr<HTTPServerState> server_;

  std::optional<Parser> parser_;      // the request being cut
  std::string ibuffer_;               // received bytes not yet cut into requests
  std::array<char, 16384> readChunk_;
  std::deque<std::shared_ptr<HTTPServerRequest>> requests_;  // oldest first, until written
  std::unique_ptr<TimerSource::Timer> lingerTimer_;
  std::unique_ptr<TimerSource::Timer> deadline_;
  enum class Deadline { none, idle, request } deadlineKind_ = Deadline::none;
  size_t parserReservedBytes_ = 0;  // body bytes reserved for the request being cut

  std::shared_ptr<void> delegateData_;
  bool valid_ = true;
  bool reading_ = false;
  bool writing_ = false;
  bool inputEnded_ = false;   // the peer ended its side
  bool acceptsInput_ = true;  // false after a request that closes the connection
};

}  // namespace tavero::net
