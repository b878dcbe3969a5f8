#include "support/LoopbackClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <cerrno>

#include "base/AsciiText.h"

namespace tavero::testing {

namespace http = boost::beast::http;

LoopbackClient::LoopbackClient(uint16_t port, std::chrono::milliseconds timeout) {
  // Close-on-exec: child processes (the web view's, in end-to-end tests)
  // must not inherit a test client's connection and seem to own it.
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  timeval tv{};
  tv.tv_sec = timeout.count() / 1000;
  tv.tv_usec = (timeout.count() % 1000) * 1000;
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

LoopbackClient::~LoopbackClient() {
  if (fd_ >= 0) ::close(fd_);
}

void LoopbackClient::send(std::string_view bytes) {
  while (fd_ >= 0 && !bytes.empty()) {
    ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
}

void LoopbackClient::shutdownSend() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

bool LoopbackClient::receiveMore() {
  char chunk[16384];
  ssize_t got = fd_ >= 0 ? ::recv(fd_, chunk, sizeof chunk, 0) : -1;
  if (got <= 0) return false;
  buffer_.append(chunk, static_cast<size_t>(got));
  return true;
}

std::optional<HttpAnswer> LoopbackClient::readAnswer(bool toHead) {
  for (;;) {
    http::response_parser<http::string_body> parser;
    parser.skip(toHead);
    parser.body_limit(64 * 1024 * 1024);
    boost::system::error_code ec;
    size_t used = 0;
    while (!parser.is_done()) {
      size_t n = parser.put(boost::asio::buffer(buffer_.data() + used, buffer_.size() - used), ec);
      used += n;
      if (ec == http::error::need_more || (!ec && n == 0)) break;
      if (ec) return std::nullopt;
    }
    if (parser.is_done()) {
      HttpAnswer answer;
      answer.raw = buffer_.substr(0, used);
      buffer_.erase(0, used);
      auto message = parser.release();
      answer.version = message.version();
      answer.status = static_cast<int>(message.result_int());
      answer.reason = std::string(message.reason());
      for (const auto& field : message) {
        answer.headers[base::asciiLowercased(field.name_string())] = std::string(field.value());
      }
      answer.body = std::move(message.body());
      return answer;
    }
    if (!receiveMore()) return std::nullopt;
  }
}

bool LoopbackClient::waitForClose() {
  char chunk[4096];
  for (;;) {
    ssize_t got = fd_ >= 0 ? ::recv(fd_, chunk, sizeof chunk, 0) : 0;
    if (got == 0) return true;  // orderly close
    if (got < 0) return errno == ECONNRESET;
    buffer_.append(chunk, static_cast<size_t>(got));
  }
}

std::string getRequest(std::string_view target, uint16_t port, std::string_view extraHeaders) {
  std::string request = "GET ";
  request += target;
  request += " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nX-Tavero-Client: tests\r\n";
  request += extraHeaders;
  request += "\r\n";
  return request;
}

}  // namespace tavero::testing
