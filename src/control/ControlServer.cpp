#include "control/ControlServer.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <boost/asio/read_until.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <cerrno>
#include <cstring>
#include <set>

#include "control/ControlProtocol.h"
#include "control/UnixSocketPath.h"
#include "log/Log.h"
#include "log/RefusalLog.h"

namespace tavero::control {

namespace asio = boost::asio;

namespace {

enum class SocketState { Absent, Answering, Stale, NotASocket, Unknown };

// Whether a shell answers on the socket file at `path`.
SocketState probeSocket(const std::filesystem::path& path, const std::string& address) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT ? SocketState::Absent : SocketState::Unknown;
  if (!S_ISSOCK(info.st_mode)) return SocketState::NotASocket;
  auto socketAddress = unixSocketAddress(address);
  if (!socketAddress) return SocketState::Unknown;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return SocketState::Unknown;
  int result = ::connect(fd, reinterpret_cast<sockaddr*>(&*socketAddress), sizeof *socketAddress);
  int error = errno;
  ::close(fd);
  if (result == 0) return SocketState::Answering;
  return error == ECONNREFUSED ? SocketState::Stale : SocketState::Unknown;
}

bool isSameUser(int fd) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return false;
  return credentials.uid == ::geteuid();
}

}  // namespace

class ControlServer::Session : public std::enable_shared_from_this<Session> {
 public:
  Session(ControlServer& server, Protocol::socket socket)
      : server_(server), socket_(std::move(socket)), idle_(server.io_) {}

  void start() { readRequest(); }

  // Closes the connection (pending reads and writes end with an error) and
  // frees its place at once. Server thread only.
  void close() {
    boost::system::error_code ignored;
    idle_.cancel();
    socket_.shutdown(Protocol::socket::shutdown_both, ignored);
    socket_.close(ignored);
    server_.forget(this);
  }

  // Sends one error line and closes (a refused connection).
  void refuse(const std::string& message) { write(answerLine(ControlAnswer::error(message)), true); }

 private:
  void readRequest() {
    idle_.expires_after(server_.limits_.idleTimeout);
    idle_.async_wait([weak = weak_from_this()](boost::system::error_code ec) {
      if (ec) return;  // cancelled: a request came in time
      if (auto self = weak.lock()) {
        log::debug("control: closed a connection that sent nothing for a while");
        self->close();
      }
    });
    asio::async_read_until(socket_, asio::dynamic_buffer(buffer_, server_.limits_.maxLineLength + 1), '\n',
                           [self = shared_from_this()](boost::system::error_code ec, size_t length) {
                             self->idle_.cancel();
                             self->onRead(ec, length);
                           });
  }

  void onRead(boost::system::error_code ec, size_t length) {
    if (ec == asio::error::not_found) {
      refuse("the request is longer than " + std::to_string(server_.limits_.maxLineLength) + " bytes");
      return;
    }
    if (ec) {
      close();  // the client left (or the server is stopping)
      return;
    }
    std::string line = buffer_.substr(0, length - 1);
    buffer_.erase(0, length);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    auto request = parseRequestLine(line);
    if (auto* error = std::get_if<std::string>(&request)) {
      write(answerLine(ControlAnswer::error(*error)), false);
      return;
    }
    server_.commands_.execute(std::get<std::vector<std::string>>(std::move(request)),
                              [weak = weak_from_this(), &io = server_.io_](ControlAnswer answer) {
                                // Back to the server thread, which alone writes to the socket.
                                if (auto self = weak.lock()) {
                                  asio::post(io, [self, line = answerLine(answer)]() mutable {
                                    self->write(std::move(line), false);
                                  });
                                }
                              });
  }

  void write(std::string line, bool thenClose) {
    auto bytes = std::make_shared<std::string>(std::move(line));
    asio::async_write(socket_, asio::buffer(*bytes),
                      [self = shared_from_this(), bytes, thenClose](boost::system::error_code ec, size_t) {
                        if (ec || thenClose) {
                          self->close();
                          return;
                        }
                        self->readRequest();
                      });
  }

  ControlServer& server_;
  Protocol::socket socket_;
  asio::steady_timer idle_;
  std::string buffer_;  // bytes read and not yet handled
};

ControlServer::ControlServer(std::filesystem::path socketPath, ControlCommandRegistry& commands, Limits limits)
    : socketPath_(std::move(socketPath)), commands_(commands), limits_(limits) {}

std::variant<std::unique_ptr<ControlServer>, std::string> ControlServer::start(std::filesystem::path socketPath,
                                                                               ControlCommandRegistry& commands,
                                                                               Limits limits) {
  std::unique_ptr<ControlServer> server(new ControlServer(std::move(socketPath), commands, limits));
  if (auto error = server->listen()) return "control socket " + server->socketPath_.string() + ": " + *error;
  server->accept();
  server->thread_ = std::thread([io = &server->io_] { io->run(); });
  return server;
}

std::optional<std::string> ControlServer::listen() {
  auto address = UnixSocketPath::forPath(socketPath_);
  if (!address) return "its folder cannot be opened (" + std::string(std::strerror(errno)) + ")";
  if (address->address().size() > UnixSocketPath::kMaxAddressLength) return std::string("the file name is too long");
  switch (probeSocket(socketPath_, address->address())) {
    case SocketState::Answering:
      return std::string("another shell is running with this home and answers on it");
    case SocketState::NotASocket:
      return std::string("the file exists and is not a socket; move it away");
    case SocketState::Stale:
      log::info("control: replacing the socket a shell that ended without cleaning up left behind");
      if (::unlink(socketPath_.c_str()) != 0 && errno != ENOENT)
        return "the old socket cannot be removed (" + std::string(std::strerror(errno)) + ")";
      break;
    case SocketState::Absent:
    case SocketState::Unknown:
      break;  // bind tells what is wrong, if anything
  }
  // Close-on-exec from the start: the web view's processes, started later,
  // must not inherit the listener, or it would outlive a killed shell and
  // answer for it.
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return std::string("cannot make a socket: ") + std::strerror(errno);
  boost::system::error_code ec;
  acceptor_.assign(Protocol(), fd, ec);
  if (ec) {
    ::close(fd);
    return ec.message();
  }
  acceptor_.bind(Protocol::endpoint(address->address()), ec);
  if (ec) return ec.message();
  // Only this user may connect. The mode is set before listening, so no
  // connection can be made while the file still has the default mode.
  struct stat info {};
  if (::chmod(socketPath_.c_str(), 0600) != 0 || ::lstat(socketPath_.c_str(), &info) != 0) {
    std::string reason = std::strerror(errno);
    acceptor_.close(ec);
    ::unlink(socketPath_.c_str());
    return "its mode cannot be set (" + reason + ")";
  }
  socketDevice_ = info.st_dev;
  socketInode_ = info.st_ino;
  acceptor_.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    acceptor_.close(ec);
    removeSocketFile();
    return ec.message();
  }
  return std::nullopt;
}

void ControlServer::accept() {
  acceptor_.async_wait(Protocol::acceptor::wait_read, [this](boost::system::error_code ec) {
    if (ec == asio::error::operation_aborted || stopping_) return;
    if (ec) {
      log::warning("control: waiting for connections failed: " + ec.message());
      return;
    }
    if (acceptWaiting()) {
      accept();
      return;
    }
    // Out of file descriptors: try again a little later instead of spinning.
    retry_.expires_after(std::chrono::milliseconds(100));
    retry_.async_wait([this](boost::system::error_code ec) {
      if (!ec && !stopping_) accept();
    });
  });
}

bool ControlServer::acceptWaiting() {
  for (;;) {
    // accept4 makes the connection close-on-exec at once, like the listener.
    int fd = ::accept4(acceptor_.native_handle(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
      log::warning(std::string("control: accepting a connection failed: ") + std::strerror(errno));
      return errno != EMFILE && errno != ENFILE && errno != ENOBUFS && errno != ENOMEM;
    }
    Protocol::socket socket(io_);
    boost::system::error_code ec;
    socket.assign(Protocol(), fd, ec);
    if (ec) {
      ::close(fd);
      continue;
    }
    welcome(std::move(socket));
  }
}

void ControlServer::welcome(Protocol::socket socket) {
  if (!isSameUser(socket.native_handle())) {
    log::refusal("control: refused a connection from another user");
    return;
  }
  auto session = std::make_shared<Session>(*this, std::move(socket));
  if (sessions_.size() >= limits_.maxConnections) {
    log::refusal("control: refused a connection: " + std::to_string(sessions_.size()) + " are open already");
    session->refuse("too many control connections are open");
    return;
  }
  sessions_.insert(session);
  connections_ = sessions_.size();
  session->start();
}

void ControlServer::forget(Session* session) {
  for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
    if (it->get() == session) {
      sessions_.erase(it);
      break;
    }
  }
  connections_ = sessions_.size();
}

ControlServer::~ControlServer() {
  asio::post(io_, [this] {
    stopping_ = true;
    boost::system::error_code ignored;
    retry_.cancel();
    acceptor_.close(ignored);
    auto sessions = std::move(sessions_);
    sessions_.clear();
    for (const auto& session : sessions) session->close();
    connections_ = 0;
  });
  // With the listener and every connection closed, the loop runs out of
  // work once their handlers have seen the error, and returns.
  if (thread_.joinable()) thread_.join();
  removeSocketFile();
}

void ControlServer::removeSocketFile() {
  struct stat info {};
  if (::lstat(socketPath_.c_str(), &info) == 0 && info.st_dev == socketDevice_ && info.st_ino == socketInode_)
    ::unlink(socketPath_.c_str());
}

}  // namespace tavero::control
