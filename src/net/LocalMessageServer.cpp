#include "net/LocalMessageServer.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <boost/asio/local/stream_protocol.hpp>
#include <cerrno>
#include <cstring>
#include <set>

#include "log/Log.h"
#include "log/RefusalLog.h"
#include "net/LocalMessageConnection.h"

namespace tavero::net {

using boost::asio::local::stream_protocol;

class LocalMessageServer::State : public std::enable_shared_from_this<State> {
 public:
  State(boost::asio::io_context& io, Options options)
      : options(std::make_shared<const Options>(std::move(options))), acceptor(io) {}

  void acceptNext();
  void accepted(int fd);
  void stop();

  std::shared_ptr<const Options> options;  // shared with the connections
  stream_protocol::acceptor acceptor;
  std::set<std::shared_ptr<LocalMessageConnection>> connections;
};

namespace {

// A listening Unix socket at `path`, close-on-exec from its creation (the
// web processes the shell starts must not inherit it); -1 and errno when not.
int listeningSocket(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.native().size() >= sizeof(address.sun_path)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.native().size());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  ::unlink(path.c_str());  // left by a shell that ended without removing it
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::chmod(path.c_str(), 0600) != 0 ||
      ::listen(fd, 16) != 0) {
    int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

std::optional<LocalMessageServer::Peer> peerOf(int fd) {
  ucred credentials{};
  socklen_t length = sizeof(credentials);
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return std::nullopt;
  return LocalMessageServer::Peer{.pid = credentials.pid, .uid = credentials.uid};
}

}  // namespace

void LocalMessageServer::State::acceptNext() {
  acceptor.async_wait(stream_protocol::acceptor::wait_read,
                      [self = shared_from_this()](const boost::system::error_code& ec) {
                        if (ec || !self->acceptor.is_open()) return;
                        // Close-on-exec from the start, as the listener.
                        int fd = ::accept4(self->acceptor.native_handle(), nullptr, nullptr,
                                           SOCK_CLOEXEC | SOCK_NONBLOCK);
                        if (fd >= 0) {
                          self->accepted(fd);
                        } else if (errno != EAGAIN && errno != EINTR && errno != ECONNABORTED) {
                          log::warning(std::string("native calls: accept failed: ") + std::strerror(errno));
                        }
                        self->acceptNext();
                      });
}

void LocalMessageServer::State::accepted(int fd) {
  auto peer = peerOf(fd);
  if (!peer || !options->acceptPeer(*peer)) {
    log::refusal("native calls: refused a connection from process " + (peer ? std::to_string(peer->pid) : "?") +
                 ": it is not one of the shell's web processes");
    ::close(fd);
    return;
  }
  if (connections.size() >= options->maxConnections) {
    log::refusal("native calls: refused a connection from process " + std::to_string(peer->pid) +
                 ": too many connections");
    ::close(fd);
    return;
  }
  boost::system::error_code ec;
  stream_protocol::socket socket(acceptor.get_executor());
  socket.assign(stream_protocol(), fd, ec);
  if (ec) {
    ::close(fd);
    return;
  }
  // The connection leaves the set when it closes; the set holds it until then.
  auto connection = std::make_shared<LocalMessageConnection>(std::move(socket), *peer, options, nullptr);
  connection->setOnClosed([weakState = weak_from_this(), raw = connection.get()] {
    auto state = weakState.lock();
    if (!state) return;
    std::erase_if(state->connections, [raw](const auto& held) { return held.get() == raw; });
  });
  connections.insert(connection);
  connection->start();
}

void LocalMessageServer::State::stop() {
  boost::system::error_code ignored;
  acceptor.close(ignored);
  for (auto& connection : std::set(connections)) connection->close();
  connections.clear();
  ::unlink(options->socketPath.c_str());
}

std::variant<std::unique_ptr<LocalMessageServer>, std::string> LocalMessageServer::start(QLWorkerThread& worker,
                                                                                         Options options) {
  auto state = std::make_shared<State>(worker.context(), std::move(options));
  std::string error = worker.performAndWait([&]() -> std::string {
    int fd = listeningSocket(state->options->socketPath);
    if (fd < 0) return "cannot listen on " + state->options->socketPath.string() + ": " + std::strerror(errno);
    boost::system::error_code ec;
    state->acceptor.assign(stream_protocol(), fd, ec);
    if (ec) {
      ::close(fd);
      return "cannot listen on " + state->options->socketPath.string() + ": " + ec.message();
    }
    state->acceptNext();
    return {};
  });
  if (!error.empty()) return error;
  return std::unique_ptr<LocalMessageServer>(new LocalMessageServer(worker, std::move(state)));
}

LocalMessageServer::LocalMessageServer(QLWorkerThread& worker, std::shared_ptr<State> state)
    : worker_(worker), state_(std::move(state)) {}

LocalMessageServer::~LocalMessageServer() {
  worker_.performAndWait([state = state_] { state->stop(); });
}

const std::filesystem::path& LocalMessageServer::socketPath() const { return state_->options->socketPath; }

}  // namespace tavero::net
