// One accepted connection of a LocalMessageServer: reads frames, checks the
// hello, hands requests on and writes their answers back in the order they
// come.
//
// Thread rules: the worker thread only, except the replies handed to
// onRequest, which may be called on any thread (they post to the worker).
#pragma once

#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/steady_timer.hpp>
#include <array>
#include <deque>
#include <memory>
#include <string>

#include "net/LocalMessageServer.h"
#include "wire/FrameReader.h"

namespace tavero::net {

class LocalMessageConnection : public std::enable_shared_from_this<LocalMessageConnection> {
 public:
  LocalMessageConnection(boost::asio::local::stream_protocol::socket socket, LocalMessageServer::Peer peer,
                         std::shared_ptr<const LocalMessageServer::Options> options, std::function<void()> onClosed);

  void setOnClosed(std::function<void()> onClosed) { onClosed_ = std::move(onClosed); }
  void start();
  void close();
  bool isOpen() const { return socket_.is_open(); }

 private:
  void readMore();
  void handleBytes(size_t count);
  void handleFrames();
  bool handleFrame(wire::MessageFrame frame);
  // `bytesCall`: the request was a bytes call, so its answer is a bytes frame.
  void answer(uint32_t id, bool rejected, bool bytesCall, std::string text);
  void writeNext();

  boost::asio::local::stream_protocol::socket socket_;
  LocalMessageServer::Peer peer_;
  std::shared_ptr<const LocalMessageServer::Options> options_;
  std::function<void()> onClosed_;
  boost::asio::steady_timer helloTimer_;
  wire::FrameReader reader_;
  std::array<char, 64 * 1024> readBuffer_{};
  std::deque<std::string> writes_;
  bool writing_ = false;
  bool reading_ = false;
  bool greeted_ = false;
  size_t unanswered_ = 0;
};

}  // namespace tavero::net
