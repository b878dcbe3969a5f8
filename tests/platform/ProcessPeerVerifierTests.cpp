#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/linux/ProcessPeerVerifier.h"
#include "platform/linux/SameUserPeerVerifier.h"

namespace tavero::platform {
namespace {

using boost::asio::ip::make_address;
using boost::asio::ip::tcp;

TEST(ProcessPeerVerifier, FindsTheSocketOfAConnectionInTheKernelTable) {
  // Two connections to port 3000 (0x0BB8) from 127.0.0.1:45678 (0xB26E) and :45679.
  const char* table =
      "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
      "   0: 0100007F:0BB8 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 1111 1 0\n"
      "   1: 0100007F:B26E 0100007F:0BB8 01 00000000:00000000 00:00000000 00000000  1000        0 2222 1 0\n"
      "   2: 0100007F:B26F 0100007F:0BB8 01 00000000:00000000 00:00000000 00000000  1000        0 3333 1 0\n";
  tcp::endpoint bridge(make_address("127.0.0.1"), 3000);
  EXPECT_EQ(ProcessPeerVerifier::socketInode(table, {make_address("127.0.0.1"), 45678}, bridge), 2222u);
  EXPECT_EQ(ProcessPeerVerifier::socketInode(table, {make_address("127.0.0.1"), 45679}, bridge), 3333u);
  EXPECT_FALSE(ProcessPeerVerifier::socketInode(table, {make_address("127.0.0.1"), 1}, bridge));
  auto entry = ProcessPeerVerifier::socketEntry(table, {make_address("127.0.0.1"), 45678}, bridge);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->owner, 1000u);  // the client's user, not the listener's (0)

  const char* table6 =
      "  sl  local_address                         remote_address                        st tx_queue rx_queue tr "
      "tm->when retrnsmt   uid  timeout inode\n"
      "   0: 00000000000000000000000001000000:B26E 00000000000000000000000001000000:0BB8 01 00000000:00000000 "
      "00:00000000 00000000     0        0 4444 1 0\n";
  EXPECT_EQ(ProcessPeerVerifier::socketInode(table6, {make_address("::1"), 45678}, {make_address("::1"), 3000}),
            4444u);
}

TEST(ProcessPeerVerifier, ChildrenAreDescendantsAndTheShellItselfIsNot) {
  pid_t child = ::fork();
  if (child == 0) {
    ::pause();
    ::_exit(0);
  }
  ProcessPeerVerifier verifier;
  auto below = verifier.descendants(::getpid());
  EXPECT_TRUE(below.count(child));
  EXPECT_FALSE(below.count(::getpid()));
  EXPECT_FALSE(verifier.descendants(child).count(::getpid()));
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

// A listener on 127.0.0.1 and a free port; closed by the destructor.
class LoopbackListener {
 public:
  LoopbackListener() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(fd_, 4) == 0)
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackListener() { ::close(fd_); }

  uint16_t port() const { return port_; }
  // The next connection's two ends (the client's first); its socket is
  // closed again.
  std::pair<tcp::endpoint, tcp::endpoint> acceptEnds() {
    sockaddr_in peer{}, local{};
    socklen_t peerLength = sizeof peer, localLength = sizeof local;
    int fd = ::accept(fd_, reinterpret_cast<sockaddr*>(&peer), &peerLength);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength);
    auto ends = std::make_pair(endpointOf(peer), endpointOf(local));
    ::close(fd);
    return ends;
  }

 private:
  static tcp::endpoint endpointOf(const sockaddr_in& address) {
    return {boost::asio::ip::address_v4(ntohl(address.sin_addr.s_addr)), ntohs(address.sin_port)};
  }
  int fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  uint16_t port_ = 0;
};

// Connects to `port` as the user `uid` (when given), waits until the parent
// has looked at the connection (it closes the pipe `hold`), then ends.
pid_t connectAs(std::optional<uid_t> uid, uint16_t port, const int hold[2]) {
  pid_t child = ::fork();
  if (child != 0) return child;
  ::alarm(10);
  ::close(hold[1]);
  if (uid && (::setgid(*uid) != 0 || ::setuid(*uid) != 0)) ::_exit(3);
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(4);
  char byte;
  (void)::read(hold[0], &byte, 1);
  ::_exit(0);
}

TEST(SameUserPeerVerifier, AcceptsTheUsersOwnProgramsAndRefusesAnotherUsers) {
  if (::getuid() != 0) GTEST_SKIP() << "becoming another user needs root";
  LoopbackListener listener;
  ASSERT_NE(listener.port(), 0);
  SameUserPeerVerifier verifier;
  for (std::optional<uid_t> user : {std::optional<uid_t>(), std::optional<uid_t>(65534)}) {
    int hold[2];
    ASSERT_EQ(::pipe(hold), 0);
    pid_t child = connectAs(user, listener.port(), hold);
    auto [peer, local] = listener.acceptEnds();
    bool accepted = verifier.isShellPeer(peer, local);
    // Another verifier's user: the same connection is not one of theirs.
    bool acceptedForOther = SameUserPeerVerifier(4242).isShellPeer(peer, local);
    ::close(hold[1]);
    ::close(hold[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the client failed: " << status;
    EXPECT_EQ(accepted, !user) << (user ? "another user's program was accepted" : "our own program was refused");
    EXPECT_FALSE(acceptedForOther);
  }
  EXPECT_NE(verifier.refusalReason().find("user 0"), std::string::npos) << verifier.refusalReason();
}

TEST(SameUserPeerVerifier, AConnectionMissingFromTheKernelTableIsRefused) {
  SameUserPeerVerifier verifier(::geteuid(), "/nonexistent");
  EXPECT_FALSE(verifier.isShellPeer({make_address("127.0.0.1"), 45678}, {make_address("127.0.0.1"), 3000}));
}

}  // namespace
}  // namespace tavero::platform
