#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <vector>

#include "net/QLTCPServer.h"
#include "net/QLWorkerThread.h"
#include "support/LoopbackClient.h"

namespace tavero::net {
namespace {

using boost::asio::ip::tcp;

class CountingDelegate : public TCPServerDelegate {
 public:
  void didReceiveConnection(QLTCPServer&, tcp::socket, std::optional<tcp::endpoint> peer) override {
    std::lock_guard lock(mutex);
    ++connections;
    lastPeer = peer;
    changed.notify_all();
  }
  bool waitForConnections(int n) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(5), [&] { return connections >= n; });
  }
  std::mutex mutex;
  std::condition_variable changed;
  int connections = 0;
  std::optional<tcp::endpoint> lastPeer;
};

struct ServerOnWorker {
  QLWorkerThread worker;
  QLTCPServer server{worker.context()};
  std::error_code start() { return worker.performAndWait([&] { return server.start(); }); }
  void stop() { worker.performAndWait([&] { server.stop(); }); }
  bool listening() { return worker.performAndWait([&] { return server.isListening(); }); }
  ~ServerOnWorker() { stop(); }
};

TEST(TCPServer, PortZeroReportsTheChosenPortAndAcceptsThere) {
  ServerOnWorker s;
  CountingDelegate delegate;
  s.server.setServerDelegate(&delegate);
  ASSERT_FALSE(s.start());
  ASSERT_NE(s.server.port(), 0);

  testing::LoopbackClient client(s.server.port());
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(delegate.waitForConnections(1));
  std::lock_guard lock(delegate.mutex);
  ASSERT_TRUE(delegate.lastPeer.has_value());
  EXPECT_TRUE(delegate.lastPeer->address().is_loopback());
}

// The descriptors of this process listening on TCP port `port`.
std::vector<int> listeningDescriptors(uint16_t port) {
  std::vector<int> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    int fd = std::stoi(entry.path().filename().string());
    int listening = 0;
    socklen_t length = sizeof listening;
    if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 || !listening) continue;
    sockaddr_storage address{};
    length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) continue;
    uint16_t bound = address.ss_family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port)
                     : address.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                                                     : 0;
    if (bound == port) found.push_back(fd);
  }
  return found;
}

TEST(TCPServer, ListeningSocketsAreCloseOnExecFromTheirCreation) {
  boost::asio::io_context io;
  for (const tcp& protocol : {tcp::v4(), tcp::v6()}) {
    tcp::acceptor acceptor(io);
    auto ec = openCloseOnExec(acceptor, protocol);
    if (ec && protocol == tcp::v6()) continue;  // no IPv6 on this machine
    ASSERT_FALSE(ec) << ec.message();
    EXPECT_NE(::fcntl(acceptor.native_handle(), F_GETFD) & FD_CLOEXEC, 0);
  }

  ServerOnWorker s;
  ASSERT_FALSE(s.start());
  auto descriptors = listeningDescriptors(s.server.port());
  ASSERT_FALSE(descriptors.empty());
  for (int fd : descriptors) EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "descriptor " << fd;
}

TEST(TCPServer, SecondStartKeepsTheOneListenerAndOneStopClosesIt) {
  ServerOnWorker s;
  ASSERT_FALSE(s.start());
  uint16_t port = s.server.port();
  ASSERT_FALSE(s.start());
  EXPECT_EQ(s.server.port(), port);
  s.stop();
  EXPECT_FALSE(s.listening());
  testing::LoopbackClient client(port);
  EXPECT_FALSE(client.connected());
}

TEST(TCPServer, BusyPortFailsWithBindErrorAndLeavesNoSocket) {
  ServerOnWorker first, second;
  ASSERT_FALSE(first.start());
  second.server.setPort(first.server.port());
  std::error_code ec = second.start();
  EXPECT_EQ(ec, TCPServerError::couldNotBindToIPv4Address);
  EXPECT_EQ(ec.value(), 1);
  EXPECT_STREQ(ec.category().name(), "TCPServerErrorDomain");
  EXPECT_FALSE(second.listening());
}

TEST(TCPServer, RebindsAfterStopWhileOldConnectionsLinger) {
  ServerOnWorker s;
  CountingDelegate delegate;
  s.server.setServerDelegate(&delegate);
  ASSERT_FALSE(s.start());
  uint16_t port = s.server.port();
  testing::LoopbackClient lingering(port);
  ASSERT_TRUE(delegate.waitForConnections(1));
  s.stop();
  ASSERT_FALSE(s.start());
  EXPECT_EQ(s.server.port(), port);
  testing::LoopbackClient again(port);
  EXPECT_TRUE(again.connected());
  EXPECT_TRUE(delegate.waitForConnections(2));
}

TEST(WorkerThread, PerformAndWaitRunsOnTheWorkerAndReturnsItsValue) {
  QLWorkerThread worker;
  EXPECT_FALSE(worker.isCurrentThread());
  EXPECT_TRUE(worker.performAndWait([&] { return worker.isCurrentThread(); }));
  // Nested calls from the worker itself run inline instead of deadlocking.
  EXPECT_EQ(worker.performAndWait([&] { return worker.performAndWait([] { return 7; }); }), 7);
}

}  // namespace
}  // namespace tavero::net
