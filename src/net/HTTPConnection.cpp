#include "net/HTTPConnection.h"

#include <boost/asio/write.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/write.hpp>
#include <algorithm>
#include <chrono>
#include <utility>

#include "log/Log.h"
#include "log/RefusalLog.h"
#include "net/DocumentRoot.h"

namespace tavero::net {

namespace http = boost::beast::http;
using boost::asio::ip::tcp;

namespace {

// How long a closing connection keeps reading (and dropping) what the peer
// still sends, so that closing with unread bytes does not reset the
// connection before the peer has read our last answer.
constexpr auto kLingerTime = std::chrono::seconds(2);

// A request line of a method and a target alone ("GET /") names no HTTP
// version: that is answered as an unsupported version, not a bad request.
bool requestLineHasNoVersion(std::string_view bytes) {
  std::string_view line = bytes.substr(0, bytes.find_first_of("\r\n"));
  size_t firstSpace = line.find(' ');
  return firstSpace != std::string_view::npos && line.find(' ', firstSpace + 1) == std::string_view::npos;
}

// `bytes` begin with the request line when the parser fails on it.
HTTPStatus statusForParseError(const boost::system::error_code& ec, std::string_view bytes) {
  if ((ec == http::error::bad_target || ec == http::error::bad_version) && requestLineHasNoVersion(bytes))
    return HTTPStatus::http_version_not_supported;
  if (ec == http::error::header_limit) return HTTPStatus::request_header_fields_too_large;
  if (ec == http::error::body_limit) return HTTPStatus::payload_too_large;
  if (ec == http::error::bad_version) return HTTPStatus::http_version_not_supported;
  return HTTPStatus::bad_request;
}

bool isPeerGone(const boost::system::error_code& ec) {
  return ec == boost::asio::error::eof || ec == boost::asio::error::connection_reset ||
         ec == boost::asio::error::broken_pipe;
}

}  // namespace

HTTPConnection::HTTPConnection(boost::asio::io_context& io, tcp::socket socket,
                               std::optional<tcp::endpoint> peerAddress,
                               std::shared_ptr<HTTPServerState> server)
    : io_(io),
      socket_(std::move(socket)),
      peerAddress_(peerAddress),
      server_(std::move(server)),
      deadline_(server_->timers->makeTimer(io)) {}

HTTPConnection::~HTTPConnection() = default;

void HTTPConnection::start() {
  server_->openConnections[this] = shared_from_this();
  boost::system::error_code ignored;
  socket_.set_option(tcp::no_delay(true), ignored);
  updateDeadline();
  readSome();
}

void HTTPConnection::invalidate() {
  if (!valid_) return;
  auto self = shared_from_this();  // the server's reference may be the last one
  valid_ = false;
  boost::system::error_code ignored;
  socket_.close(ignored);
  if (lingerTimer_) lingerTimer_->cancel();
  deadline_->cancel();
  for (const auto& request : requests_) releaseBodyBytes(std::exchange(request->reservedBodyBytes_, 0));
  releaseBodyBytes(std::exchange(parserReservedBytes_, 0));
  requests_.clear();
  parser_.reset();
  ibuffer_.clear();
  server_->openConnections.erase(this);
}

std::shared_ptr<HTTPServerRequest> HTTPConnection::nextRequest() const {
  for (const auto& request : requests_)
    if (!request->response_) return request;
  return nullptr;
}

bool HTTPConnection::mayRead() const {
  return valid_ && !reading_ && !inputEnded_ && acceptsInput_ &&
         requests_.size() < server_->limits.maxPipelinedRequests;
}

void HTTPConnection::readSome() {
  if (!mayRead()) return;
  reading_ = true;
  socket_.async_read_some(boost::asio::buffer(readChunk_),
                          [self = shared_from_this()](const boost::system::error_code& ec,
                                                      size_t bytes) { self->onRead(ec, bytes); });
}

void HTTPConnection::onRead(const boost::system::error_code& ec, size_t bytes) {
  reading_ = false;
  if (!valid_ || ec == boost::asio::error::operation_aborted) return;
  if (ec == boost::asio::error::eof) {
    // A request cut short by the end of input is never answered; the
    // answers already due are still written.
    inputEnded_ = true;
    if (requests_.empty()) invalidate();
    return;
  }
  if (ec) {
    if (!isPeerGone(ec)) log::warning("HTTPServer stream error: " + ec.message());
    invalidate();
    return;
  }
  server_->bytesReceived += bytes;
  ibuffer_.append(readChunk_.data(), bytes);
  processIncomingBytes();
  updateDeadline();
  readSome();
}

void HTTPConnection::processIncomingBytes() {
  while (valid_ && acceptsInput_ && requests_.size() < server_->limits.maxPipelinedRequests &&
         cutOneRequest()) {
  }
}

bool HTTPConnection::cutOneRequest() {
  if (!parser_) {
    parser_.emplace();
    parser_->header_limit(static_cast<uint32_t>(server_->limits.maxHeaderBytes));
    parser_->body_limit(server_->limits.maxBodyBytes);
  }
  size_t offset = 0;
  while (!parser_->is_done()) {
    boost::system::error_code ec;
    size_t used = parser_->put(boost::asio::buffer(ibuffer_.data() + offset, ibuffer_.size() - offset), ec);
    offset += used;
    if (ec == http::error::need_more || (!ec && used == 0)) {
      ibuffer_.erase(0, offset);
      return false;
    }
    if (ec) {
      answerMalformed(statusForParseError(ec, ibuffer_), ec);
      return false;
    }
    if (parser_->is_header_done() && !reserveBodyBytes()) return false;
  }
  ibuffer_.erase(0, offset);
  auto request = std::make_shared<HTTPServerRequest>(parser_->release(), weak_from_this());
  request->reservedBodyBytes_ = std::exchange(parserReservedBytes_, 0);
  parser_.reset();
  enqueue(request);
  return true;
}

// Bodies are bounded one by one (maxBodyBytes) and together: a client that
// opens many connections and announces large bodies on each must not make
// the process hold more than maxBufferedBodyBytes for them.
bool HTTPConnection::reserveBodyBytes() {
  if (parserReservedBytes_ > 0) return true;
  auto declared = parser_->content_length();
  size_t wanted = declared ? static_cast<size_t>(*declared) : (parser_->chunked() ? server_->limits.maxBodyBytes : 0);
  if (wanted == 0) return true;
  if (server_->bufferedBodyBytes + wanted > server_->limits.maxBufferedBodyBytes) {
    log::refusal("HTTP: the bodies being received already fill the budget; refusing a request of " +
                 std::to_string(wanted) + " bytes");
    answerMalformed(HTTPStatus::service_unavailable, boost::system::error_code{});
    return false;
  }
  server_->bufferedBodyBytes += wanted;
  parserReservedBytes_ = wanted;
  return true;
}

void HTTPConnection::releaseBodyBytes(size_t bytes) {
  server_->bufferedBodyBytes -= std::min(bytes, server_->bufferedBodyBytes);
}

void HTTPConnection::updateDeadline() {
  if (!valid_) return;
  bool requestInProgress = !ibuffer_.empty() || (parser_ && parser_->got_some());
  Deadline wanted = requestInProgress ? Deadline::request
                    : requests_.empty() ? Deadline::idle
                                        : Deadline::none;  // waiting for our own answers
  if (wanted == deadlineKind_) return;  // a request's deadline runs from its first byte
  deadlineKind_ = wanted;
  deadline_->cancel();
  if (wanted == Deadline::none) return;
  deadline_->start(wanted == Deadline::request ? server_->limits.requestTimeout : server_->limits.idleTimeout,
                   [self = shared_from_this(), wanted] {
                     if (self->valid_ && self->deadlineKind_ == wanted) self->deadlinePassed(wanted == Deadline::request);
                   });
}

void HTTPConnection::deadlinePassed(bool requestInProgress) {
  if (requestInProgress)
    log::refusal("HTTP: a request did not arrive whole in time; closing its connection");
  else
    log::debug("HTTP: closing an idle connection");
  invalidate();
}

void HTTPConnection::enqueue(const std::shared_ptr<HTTPServerRequest>& request) {
  deadlineKind_ = Deadline::none;  // the next request's deadline runs from its own first byte
  deadline_->cancel();
  requests_.push_back(request);
  if (request->closesConnection()) {
    acceptsInput_ = false;  // what follows a closing request is never answered
    ibuffer_.clear();
  }
  if (auto* delegate = server_->delegate)
    delegate->didReceiveRequest(*this, request);
  else
    performDefaultRequestHandling(*request);
}

void HTTPConnection::answerMalformed(HTTPStatus status, const boost::system::error_code& parseError) {
  if (parseError)
    log::refusal("HTTP: malformed request from the peer (" + parseError.message() + "); closing after the answer");
  releaseBodyBytes(std::exchange(parserReservedBytes_, 0));
  HTTPRequestMessage placeholder;
  auto request = std::make_shared<HTTPServerRequest>(std::move(placeholder), weak_from_this());
  request->closesConnection_ = true;
  acceptsInput_ = false;
  ibuffer_.clear();
  parser_.reset();
  requests_.push_back(request);
  request->applyResponse(makeHTTPResponse(status));
}

void HTTPConnection::performDefaultRequestHandling(HTTPServerRequest& request) {
  const auto& message = request.request();
  if (message.version() != 11) {
    HTTPResponseMessage response = makeHTTPResponse(HTTPStatus::http_version_not_supported);
    response.version(message.version());
    request.setResponse(std::move(response));
    return;
  }
  std::string_view method = message.method_string();
  if (method.empty()) {
    request.setResponse(makeHTTPResponse(HTTPStatus::bad_request));
    return;
  }
  if (method != "GET" && method != "HEAD") {
    request.setResponse(makeHTTPResponse(HTTPStatus::method_not_allowed));
    return;
  }
  std::optional<std::string> content =
      readFileInsideDocumentRoot(server_->documentRoot, message.target());
  if (!content) {
    request.setResponse(makeHTTPResponse(HTTPStatus::not_found));
    return;
  }
  HTTPResponseMessage response = makeHTTPResponse(HTTPStatus::ok, std::move(*content));
  if (method == "HEAD") response.body().clear();  // the length stays the file's
  request.setResponse(std::move(response));
}

void HTTPConnection::processOutgoingBytes() {
  if (!valid_ || writing_ || requests_.empty()) return;
  auto front = requests_.front();
  if (!front->response_) return;  // an older request still waits: nothing behind it goes out
  writing_ = true;
  front->writing_ = true;
  http::async_write(socket_, *front->response_,
                    [self = shared_from_this(), front](const boost::system::error_code& ec, size_t) {
                      self->onWritten(ec, front);
                    });
}

void HTTPConnection::onWritten(const boost::system::error_code& ec,
                               const std::shared_ptr<HTTPServerRequest>& request) {
  writing_ = false;
  if (!valid_) return;
  if (ec) {
    if (!isPeerGone(ec)) log::warning("HTTPServer stream error: " + ec.message());
    invalidate();
    return;
  }
  if (auto* delegate = server_->delegate) delegate->didSendResponse(*this, *request);
  if (!valid_) return;
  releaseBodyBytes(std::exchange(request->reservedBodyBytes_, 0));
  requests_.pop_front();
  if (request->closesConnection()) {
    closeAfterLastAnswer();
    return;
  }
  if (inputEnded_ && requests_.empty()) {
    invalidate();
    return;
  }
  processIncomingBytes();  // requests that waited for room in the queue
  processOutgoingBytes();
  updateDeadline();
  readSome();
}

void HTTPConnection::closeAfterLastAnswer() {
  deadlineKind_ = Deadline::none;
  deadline_->cancel();
  boost::system::error_code ignored;
  socket_.shutdown(tcp::socket::shutdown_send, ignored);
  if (inputEnded_) {
    invalidate();
    return;
  }
  lingerTimer_ = server_->timers->makeTimer(io_);
  lingerTimer_->start(kLingerTime, [self = shared_from_this()] { self->invalidate(); });
  drainUntilPeerCloses();
}

void HTTPConnection::drainUntilPeerCloses() {
  socket_.async_read_some(boost::asio::buffer(readChunk_),
                          [self = shared_from_this()](const boost::system::error_code& ec, size_t) {
                            if (!self->valid_) return;
                            if (ec)
                              self->invalidate();
                            else
                              self->drainUntilPeerCloses();
                          });
}

}  // namespace tavero::net
