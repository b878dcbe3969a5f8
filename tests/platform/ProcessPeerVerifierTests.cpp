#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

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

// A /proc tree in a temporary folder: processes with their parents and open
// sockets, and the kernel's TCP tables.
class FakeProc {
 public:
  FakeProc() {
    root_ = std::filesystem::temp_directory_path() /
            ("tavero-proc-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "net");
    // Entries that are not processes.
    std::filesystem::create_directories(root_ / "sys");
    std::ofstream(root_ / "uptime") << "1.0 1.0\n";
  }
  ~FakeProc() { std::filesystem::remove_all(root_); }

  // Process `pid` with parent `parent`, named `command` (spaces and
  // parentheses included, as the kernel writes it), holding `sockets`.
  void process(pid_t pid, pid_t parent, const std::string& command, std::vector<unsigned long> sockets = {}) {
    auto folder = root_ / std::to_string(pid);
    std::filesystem::remove_all(folder);  // described again: replaced
    std::filesystem::create_directories(folder / "fd");
    std::ofstream(folder / "stat") << pid << " (" << command << ") S " << parent << " " << pid << " 0 0 -1\n";
    std::filesystem::create_symlink("/dev/null", folder / "fd" / "0");
    int fd = 3;
    for (unsigned long inode : sockets)
      std::filesystem::create_symlink("socket:[" + std::to_string(inode) + "]", folder / "fd" / std::to_string(fd++));
  }
  // One line of /proc/net/tcp for a socket whose local end is `local`, remote end `remote` (written
  // as the kernel does, "0100007F:0BB8"), owned by `uid`.
  void tcp(const std::string& local, const std::string& remote, uid_t uid, unsigned long inode,
           const char* table = "net/tcp") {
    auto& lines = tables_[table];
    lines += "   " + std::to_string(slot_++) + ": " + local + " " + remote +
             " 01 00000000:00000000 00:00000000 00000000 " + std::to_string(uid) + " 0 " + std::to_string(inode) +
             " 1 0000000000000000 20 4 30 10 -1\n";
    std::ofstream(root_ / table) << "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt"
                                    "   uid  timeout inode\n"
                                 << lines;
  }
  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;
  std::map<std::string, std::string> tables_;
  int slot_ = 0;
};

// 127.0.0.1:3000, the bridge, and a client at 127.0.0.1:45678.
const tcp::endpoint kBridge(make_address("127.0.0.1"), 3000);
const tcp::endpoint kClient(make_address("127.0.0.1"), 45678);
constexpr const char* kBridgeText = "0100007F:0BB8";
constexpr const char* kClientText = "0100007F:B26E";

class ProcessPeerVerifierInFakeProc : public ::testing::Test {
 protected:
  static constexpr pid_t kShell = 100;
  void SetUp() override {
    proc_.process(1, 0, "init");
    proc_.process(kShell, 1, "tavero");
    proc_.process(101, kShell, "WebKitNetworkProcess");
    proc_.process(102, 101, "Web (Content) ) x");  // a grandchild with an awkward name
    proc_.process(200, 1, "curl");                 // another program of the machine
    // The bridge's end of the connection, held by the shell.
    proc_.tcp(kBridgeText, kClientText, 1000, 5000);
  }
  bool accepted(const tcp::endpoint& peer = kClient, const tcp::endpoint& local = kBridge) {
    return ProcessPeerVerifier(kShell, proc_.root()).isShellPeer(peer, local);
  }
  FakeProc proc_;
};

TEST_F(ProcessPeerVerifierInFakeProc, AcceptsOnlyConnectionsHeldByTheShellsDescendants) {
  proc_.tcp(kClientText, kBridgeText, 1000, 6000);  // the client's end
  EXPECT_FALSE(accepted()) << "nobody holds the client's end";
  proc_.process(300, 1, "curl", {6000});
  EXPECT_FALSE(accepted()) << "a program that is not the shell's";
  proc_.process(102 + 1000, 102, "child of a grandchild", {6000});
  EXPECT_TRUE(accepted());
}

TEST_F(ProcessPeerVerifierInFakeProc, TheShellItselfAndItsParentsAreNotItsWebViews) {
  proc_.tcp(kClientText, kBridgeText, 1000, 6000);
  proc_.process(kShell, 1, "tavero", {5000, 6000});  // the shell holds both ends itself
  EXPECT_FALSE(accepted());
  proc_.process(1, 0, "init", {6000});
  EXPECT_FALSE(accepted());
}

TEST_F(ProcessPeerVerifierInFakeProc, OnlyTheClientsEndOfTheConnectionCounts) {
  // A web process holding the bridge's end (say it inherited it) does not
  // make a stranger's client end the shell's.
  proc_.tcp(kClientText, kBridgeText, 1000, 6000);
  proc_.process(200, 1, "curl", {6000});
  proc_.process(101, kShell, "WebKitNetworkProcess", {5000});
  EXPECT_FALSE(accepted());
  // Nor does a connection from another port of the same address.
  proc_.process(102, 101, "WebKitWebProcess", {6000});
  EXPECT_FALSE(accepted({make_address("127.0.0.1"), 45679}));
  EXPECT_TRUE(accepted());
}

TEST_F(ProcessPeerVerifierInFakeProc, IPv6ConnectionsAreLookedUpInTheirOwnTable) {
  const std::string loopback6 = "00000000000000000000000001000000";
  proc_.tcp(loopback6 + ":B26E", loopback6 + ":0BB8", 1000, 7000, "net/tcp6");
  proc_.process(101, kShell, "WebKitNetworkProcess", {7000});
  EXPECT_TRUE(accepted({make_address("::1"), 45678}, {make_address("::1"), 3000}));
  // The same ports over IPv4 are another connection.
  EXPECT_FALSE(accepted());
}

TEST_F(ProcessPeerVerifierInFakeProc, DamagedEntriesAreSkippedAndNothingLoops) {
  std::ofstream(proc_.root() / "net/tcp") << "  sl  local_address rem_address\n"
                                          << "   0: garbage\n"
                                          << "   1: 0100007F:ZZZZ 0100007F:0BB8 01 0:0 0:0 0 1000 0 6000\n"
                                          << "   2: 0100007F:B26E 0100007F:0BB8 01 0:0 0:0 0 1000 0 0\n";
  proc_.process(101, kShell, "WebKitNetworkProcess", {6000});
  EXPECT_FALSE(accepted());  // the only matching line has no inode (a closing socket)
  std::ofstream(proc_.root() / "103" / "stat") << "no parenthesis here";
  std::filesystem::create_directories(proc_.root() / "104");  // a process that went away: no stat
  // Processes that are each other's parents (as a pid reused at the wrong
  // moment can make it look) do not make the search go round for ever.
  proc_.process(400, 401, "a");
  proc_.process(401, 400, "b");
  auto below = ProcessPeerVerifier(kShell, proc_.root()).descendants(400);
  EXPECT_EQ(below, (std::set<pid_t>{400, 401}));
}

TEST(SameUserPeerVerifierInFakeProc, AcceptsTheClientsEndOwnedByTheUserAndNothingElse) {
  FakeProc proc;
  proc.tcp(kBridgeText, kClientText, 1000, 5000);  // the bridge's end: the serving user's
  proc.tcp(kClientText, kBridgeText, 2000, 6000);  // the client's end: another user's
  EXPECT_FALSE(SameUserPeerVerifier(1000, proc.root()).isShellPeer(kClient, kBridge));
  EXPECT_TRUE(SameUserPeerVerifier(2000, proc.root()).isShellPeer(kClient, kBridge));
  // A client end that is gone from the table.
  EXPECT_FALSE(SameUserPeerVerifier(2000, proc.root()).isShellPeer({make_address("127.0.0.1"), 1}, kBridge));
  // IPv6 clients are looked up in tcp6, which this machine lacks here.
  EXPECT_FALSE(SameUserPeerVerifier(2000, proc.root()).isShellPeer({make_address("::1"), 45678},
                                                                   {make_address("::1"), 3000}));
}

}  // namespace
}  // namespace tavero::platform
