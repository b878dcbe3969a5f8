// The control interface's Unix socket server: a running shell listens on
// <home>/control.sock (mode 0600) and runs the commands of its
// ControlCommandRegistry for clients of the same user, one JSON request and
// one JSON answer per line (ControlProtocol.h). A connection may send many
// requests; each is answered before the next is read.
//
// A socket left behind by a killed shell is replaced; a socket on which
// another shell still answers is left alone (start() fails: two shells must
// not share one home). The socket file is removed when the server ends, if
// it is still this server's.
//
// Thread rules: the server runs on a thread of its own (Boost.Asio);
// commands that need the main thread are handed to it by the registry
// without the server thread waiting. Create and destroy the server on the
// registry's main thread (or anywhere when the registry has none).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <variant>

#include "control/ControlCommandRegistry.h"

namespace tavero::control {

class ControlServer {
 public:
  struct Limits {
    size_t maxLineLength = 1 << 20;  // bytes of one request, line feed excluded
    size_t maxConnections = 16;
    std::chrono::milliseconds idleTimeout{std::chrono::seconds(60)};  // waiting for a request
  };

  // Listens on `socketPath`; a message saying why it cannot otherwise.
  // `commands` must outlive the server.
  static std::variant<std::unique_ptr<ControlServer>, std::string> start(std::filesystem::path socketPath,
                                                                         ControlCommandRegistry& commands,
                                                                         Limits limits);
  static std::variant<std::unique_ptr<ControlServer>, std::string> start(std::filesystem::path socketPath,
                                                                         ControlCommandRegistry& commands) {
    return start(std::move(socketPath), commands, Limits{});
  }

  // Stops listening, closes every connection, joins the thread and removes
  // the socket file.
  ~ControlServer();

  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  const std::filesystem::path& socketPath() const { return socketPath_; }

  // Connections open now (for tests and diagnostics).
  size_t connectionCount() const { return connections_.load(); }

 private:
  class Session;
  friend class Session;
  using Protocol = boost::asio::local::stream_protocol;

  ControlServer(std::filesystem::path socketPath, ControlCommandRegistry& commands, Limits limits);
  std::optional<std::string> listen();
  void accept();
  // Takes every waiting connection; false when out of file descriptors.
  bool acceptWaiting();
  void welcome(Protocol::socket socket);
  void forget(Session* session);
  void removeSocketFile();

  std::filesystem::path socketPath_;
  ControlCommandRegistry& commands_;
  Limits limits_;
  boost::asio::io_context io_{1};
  Protocol::acceptor acceptor_{io_};  // server thread only, once running
  boost::asio::steady_timer retry_{io_};  // accepting again after running out of descriptors
  // The open connections, kept here so that a connection whose command is
  // running on the main thread stays open. Server thread only.
  std::set<std::shared_ptr<Session>> sessions_;
  std::atomic<size_t> connections_{0};  // sessions_.size(), for any thread
  std::atomic<bool> stopping_{false};
  dev_t socketDevice_ = 0;  // identify the socket file this server made
  ino_t socketInode_ = 0;
  std::thread thread_;
};

}  // namespace tavero::control
