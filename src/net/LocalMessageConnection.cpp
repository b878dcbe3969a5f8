#include "net/LocalMessageConnection.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include "log/Log.h"
#include "log/RefusalLog.h"

namespace tavero::net {

using wire::MessageFrame;

LocalMessageConnection::LocalMessageConnection(boost::asio::local::stream_protocol::socket socket,
                                               LocalMessageServer::Peer peer,
                                               std::shared_ptr<const LocalMessageServer::Options> options,
                                               std::function<void()> onClosed)
    : socket_(std::move(socket)),
      peer_(peer),
      options_(std::move(options)),
      onClosed_(std::move(onClosed)),
      helloTimer_(socket_.get_executor()),
      reader_(options_->maxBodySize ? options_->maxBodySize : MessageFrame::kMaxBodySize) {}

void LocalMessageConnection::start() {
  helloTimer_.expires_after(options_->helloTimeout);
  helloTimer_.async_wait([self = shared_from_this()](const boost::system::error_code& ec) {
    if (ec || self->greeted_ || !self->isOpen()) return;
    log::refusal("native calls: closed a connection of process " + std::to_string(self->peer_.pid) +
                 " that did not say hello in time");
    self->close();
  });
  readMore();
}

void LocalMessageConnection::close() {
  if (!socket_.is_open()) return;
  boost::system::error_code ignored;
  socket_.close(ignored);
  helloTimer_.cancel();
  // The answers waiting stay until the write under way (if any) has
  // finished: it still reads the first of them.
  // Last: it may release this connection's owner's reference.
  if (onClosed_) std::exchange(onClosed_, nullptr)();
}

void LocalMessageConnection::readMore() {
  // Past the limit of requests under way, the shell reads nothing more
  // from this connection until answers have gone out: a flood waits in the
  // kernel's buffers and the sender's.
  if (reading_ || !isOpen() || unanswered_ >= options_->maxUnanswered) return;
  reading_ = true;
  socket_.async_read_some(boost::asio::buffer(readBuffer_),
                          [self = shared_from_this()](const boost::system::error_code& ec, size_t count) {
                            self->reading_ = false;
                            if (ec) return self->close();
                            self->handleBytes(count);
                          });
}

void LocalMessageConnection::handleBytes(size_t count) {
  reader_.append(std::string_view(readBuffer_.data(), count));
  handleFrames();
}

// Hands on the whole frames read, up to the limit of requests under way;
// the rest wait in the reader until answers have gone out.
void LocalMessageConnection::handleFrames() {
  while (isOpen() && unanswered_ < options_->maxUnanswered) {
    auto frame = reader_.next();
    if (!frame) break;
    if (!handleFrame(std::move(*frame))) return close();
  }
  if (reader_.broken()) {
    log::refusal("native calls: closed a connection of process " + std::to_string(peer_.pid) +
                 " that sent a frame over the size limit");
    return close();
  }
  readMore();
}

// False when the connection must close.
bool LocalMessageConnection::handleFrame(MessageFrame frame) {
  if (!greeted_) {
    if (frame.id != 0 || frame.tag != MessageFrame::kHelloTag || !options_->acceptHello(frame.body)) {
      log::refusal("native calls: refused a connection of process " + std::to_string(peer_.pid) +
                   " without the page token");
      return false;
    }
    greeted_ = true;
    helloTimer_.cancel();
    return true;
  }
  if (frame.id == 0 || frame.tag == MessageFrame::kHelloTag) {
    log::refusal("native calls: closed a connection of process " + std::to_string(peer_.pid) +
                 " that sent a malformed frame");
    return false;
  }
  // A bytes call's body must hold its header and bytes as it says.
  const bool bytesCall = (frame.tag & MessageFrame::kBytesFlag) != 0;
  if (bytesCall && !MessageFrame::splitBytesBody(frame.body)) {
    log::refusal("native calls: closed a connection of process " + std::to_string(peer_.pid) +
                 " that sent a bytes call whose lengths do not hold together");
    return false;
  }
  ++unanswered_;
  const uint32_t id = frame.id;
  auto executor = socket_.get_executor();
  std::weak_ptr<LocalMessageConnection> weak = weak_from_this();
  options_->onRequest(peer_, frame.tag, std::move(frame.body),
                     [weak, executor, id, bytesCall](bool rejected, std::string text) {
                       boost::asio::post(executor, [weak, id, rejected, bytesCall, text = std::move(text)]() mutable {
                         if (auto self = weak.lock()) self->answer(id, rejected, bytesCall, std::move(text));
                       });
                     });
  return true;
}

void LocalMessageConnection::answer(uint32_t id, bool rejected, bool bytesCall, std::string text) {
  if (unanswered_ > 0) --unanswered_;
  if (!isOpen()) return;
  if (text.size() > reader_.maxBodySize()) {
    log::error("native calls: an answer of " + std::to_string(text.size()) + " bytes is over the frame limit");
    rejected = true;
    text = "the answer is too large";
  }
  const uint32_t tag = rejected ? MessageFrame::kRejectionTag
                                : (bytesCall ? MessageFrame::kBytesAnswerTag : MessageFrame::kAnswerTag);
  writes_.push_back(MessageFrame::encode(id, tag, text));
  writeNext();
  handleFrames();
}

void LocalMessageConnection::writeNext() {
  if (writing_ || writes_.empty() || !isOpen()) return;
  writing_ = true;
  boost::asio::async_write(socket_, boost::asio::buffer(writes_.front()),
                           [self = shared_from_this()](const boost::system::error_code& ec, size_t) {
                             self->writing_ = false;
                             if (ec || !self->isOpen()) return self->close();
                             self->writes_.pop_front();
                             self->writeNext();
                           });
}

}  // namespace tavero::net
