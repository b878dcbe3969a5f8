// The native call socket's server with clients that misbehave: who may
// connect, the hello, malformed and oversize frames, floods of requests
// and of connections, and answers that come later on other threads.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "net/LocalMessageServer.h"
#include "wire/FrameReader.h"
#include "wire/MessageFrame.h"

namespace tavero::net {
namespace {

using wire::MessageFrame;
namespace fs = std::filesystem;

constexpr const char* kToken = "secret-token";

// A client end: raw frames, and reads that give up after a while.
class Client {
 public:
  explicit Client(const fs::path& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  }
  ~Client() { ::close(fd_); }
  bool connected() const { return connected_; }
  void send(const std::string& bytes) { (void)::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
  void hello(const std::string& token = kToken) { send(MessageFrame::encode(0, MessageFrame::kHelloTag, token)); }
  // The next frame; nothing when the server closed the connection or sent
  // nothing within `limit`.
  std::optional<MessageFrame> read(int limitMs = 5000) {
    for (;;) {
      if (auto frame = reader_.next()) return frame;
      pollfd waiting{.fd = fd_, .events = POLLIN, .revents = 0};
      if (::poll(&waiting, 1, limitMs) <= 0) return std::nullopt;
      char buffer[65536];
      ssize_t count = ::recv(fd_, buffer, sizeof(buffer), 0);
      if (count <= 0) {
        closed_ = true;
        return std::nullopt;
      }
      reader_.append(std::string_view(buffer, count));
    }
  }
  // The server closed the connection (within `limitMs`).
  bool closedByServer(int limitMs = 5000) {
    while (!closed_ && read(limitMs)) {
    }
    return closed_;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
  wire::FrameReader reader_;
};

class LocalMessageServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("tavero-native-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder_);
    options_.socketPath = folder_ / "calls.sock";
    options_.acceptPeer = [this](const LocalMessageServer::Peer& peer) {
      lastPeer_ = peer;
      return acceptPeers_.load();
    };
    options_.acceptHello = [](std::string_view token) { return token == kToken; };
    // Echoes the message with the page's number, or holds the reply.
    options_.onRequest = [this](const LocalMessageServer::Peer&, uint32_t page, std::string message,
                                LocalMessageServer::Reply reply) {
      ++requests_;
      if (holdReplies_) {
        std::lock_guard lock(mutex_);
        held_.push_back(std::move(reply));
        return;
      }
      reply(message == "reject me", std::to_string(page) + ":" + message);
    };
  }
  void TearDown() override {
    server_.reset();
    fs::remove_all(folder_);
  }
  void start() {
    auto started = LocalMessageServer::start(worker_, options_);
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<LocalMessageServer>>(started))
        << std::get<std::string>(started);
    server_ = std::move(std::get<std::unique_ptr<LocalMessageServer>>(started));
  }
  bool waitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 500 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
  }

  QLWorkerThread worker_;
  fs::path folder_;
  LocalMessageServer::Options options_;
  std::unique_ptr<LocalMessageServer> server_;
  std::atomic<bool> acceptPeers_{true};
  std::atomic<bool> holdReplies_{false};
  std::atomic<int> requests_{0};
  LocalMessageServer::Peer lastPeer_;
  std::mutex mutex_;
  std::vector<LocalMessageServer::Reply> held_;
};

TEST_F(LocalMessageServerTest, AGreetedClientGetsEachAnswerUnderItsRequestsId) {
  start();
  EXPECT_EQ(fs::status(options_.socketPath).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  Client client(options_.socketPath);
  ASSERT_TRUE(client.connected());
  client.hello();
  client.send(MessageFrame::encode(5, 3, "first") + MessageFrame::encode(6, 4, "reject me"));
  auto first = client.read();
  auto second = client.read();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->id, 5u);
  EXPECT_EQ(first->tag, MessageFrame::kAnswerTag);
  EXPECT_EQ(first->body, "3:first");
  EXPECT_EQ(second->id, 6u);
  EXPECT_EQ(second->tag, MessageFrame::kRejectionTag);
  EXPECT_EQ(lastPeer_.pid, ::getpid());  // SO_PEERCRED: this process
  EXPECT_EQ(lastPeer_.uid, ::geteuid());
}

TEST_F(LocalMessageServerTest, ClientsWithoutTheTokenOrThatAreRefusedGetNothingCarriedOut) {
  start();
  {
    Client forged(options_.socketPath);
    forged.hello("a guess");
    forged.send(MessageFrame::encode(1, 1, "call"));
    EXPECT_TRUE(forged.closedByServer());
  }
  {
    Client noHello(options_.socketPath);  // a request in place of the hello
    noHello.send(MessageFrame::encode(1, 1, "call"));
    EXPECT_TRUE(noHello.closedByServer());
  }
  {
    acceptPeers_ = false;  // another user's process, or one the shell did not start
    Client stranger(options_.socketPath);
    stranger.hello();
    stranger.send(MessageFrame::encode(1, 1, "call"));
    EXPECT_TRUE(stranger.closedByServer());
    acceptPeers_ = true;
  }
  EXPECT_EQ(requests_.load(), 0);
}

TEST_F(LocalMessageServerTest, MalformedOrOversizeFramesCloseTheConnection) {
  options_.maxBodySize = 1024;
  start();
  {
    Client zeroId(options_.socketPath);
    zeroId.hello();
    zeroId.send(MessageFrame::encode(0, 1, "call"));
    EXPECT_TRUE(zeroId.closedByServer());
  }
  {
    Client secondHello(options_.socketPath);
    secondHello.hello();
    secondHello.hello();
    EXPECT_TRUE(secondHello.closedByServer());
  }
  {
    Client oversize(options_.socketPath);
    oversize.hello();
    oversize.send(MessageFrame::encode(1, 1, std::string(1025, 'x')));
    EXPECT_TRUE(oversize.closedByServer());
  }
  EXPECT_EQ(requests_.load(), 0);
  // The server still serves.
  Client good(options_.socketPath);
  good.hello();
  good.send(MessageFrame::encode(1, 1, "still here"));
  auto answer = good.read();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->body, "1:still here");
}

TEST_F(LocalMessageServerTest, BytesCallsWhoseLengthsDoNotHoldTogetherCloseTheConnectionUnread) {
  start();
  const uint32_t bytesOfPage2 = MessageFrame::kBytesFlag | 2;
  const std::string header = std::string("\0\0\0\x09", 4);  // announces a 9-byte header
  for (const std::string& body : {std::string(), std::string("\0\0", 2), header + "{}",
                                  std::string("\0\0\0\0", 4) + "bytes without a header",
                                  std::string("\xff\xff\xff\xff{}", 6)}) {
    Client client(options_.socketPath);
    client.hello();
    client.send(MessageFrame::encode(1, bytesOfPage2, body));
    EXPECT_TRUE(client.closedByServer()) << "a body of " << body.size() << " bytes";
  }
  EXPECT_EQ(requests_.load(), 0);

  // A good one is handed on whole and answered in a bytes frame; its
  // rejection in a plain one.
  Client good(options_.socketPath);
  good.hello();
  good.send(MessageFrame::encode(5, bytesOfPage2, MessageFrame::encodeBytesBody("{}", std::string("\0\xff", 2))));
  auto answer = good.read();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->id, 5u);
  EXPECT_EQ(answer->tag, MessageFrame::kBytesAnswerTag);
  EXPECT_EQ(answer->body, std::to_string(bytesOfPage2) + ":" + MessageFrame::encodeBytesBody("{}", std::string("\0\xff", 2)));
  good.send(MessageFrame::encode(6, 2, "reject me"));
  auto rejected = good.read();
  ASSERT_TRUE(rejected);
  EXPECT_EQ(rejected->tag, MessageFrame::kRejectionTag);
}

TEST_F(LocalMessageServerTest, AClientThatNeverSaysHelloIsClosedAfterTheTimeout) {
  options_.helloTimeout = std::chrono::milliseconds(100);
  start();
  Client silent(options_.socketPath);
  EXPECT_TRUE(silent.closedByServer(3000));
}

TEST_F(LocalMessageServerTest, AFloodOfRequestsWaitsUnreadPastTheLimitUntilAnswersGoOut) {
  options_.maxUnanswered = 4;
  holdReplies_ = true;
  start();
  Client flood(options_.socketPath);
  flood.hello();
  std::string bytes;
  for (uint32_t id = 1; id <= 20; ++id) bytes += MessageFrame::encode(id, 1, "call " + std::to_string(id));
  flood.send(bytes);
  for (int wave = 1; wave <= 5; ++wave) {
    ASSERT_TRUE(waitFor([&] { return requests_.load() >= 4 * wave; })) << "wave " << wave;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(requests_.load(), 4 * wave);  // no more than the limit under way
    std::vector<LocalMessageServer::Reply> replies;
    {
      std::lock_guard lock(mutex_);
      replies.swap(held_);
    }
    // Answered from other threads, as the dispatch queue does.
    std::vector<std::thread> answering;
    for (auto& reply : replies) answering.emplace_back([reply] { reply(false, "done"); });
    for (auto& thread : answering) thread.join();
  }
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(flood.read()) << "answer " << i;
  EXPECT_EQ(requests_.load(), 20);
}

TEST_F(LocalMessageServerTest, ConnectionsPastTheLimitAreClosedAndAnswersAfterTheServerWentAreDropped) {
  options_.maxConnections = 2;
  holdReplies_ = true;
  start();
  Client first(options_.socketPath), second(options_.socketPath);
  first.hello();
  second.hello();
  first.send(MessageFrame::encode(1, 1, "held"));
  ASSERT_TRUE(waitFor([&] { return requests_.load() == 1; }));
  Client third(options_.socketPath);
  EXPECT_TRUE(third.closedByServer());
  // The shell ends: connections close, the socket file goes, and a reply
  // that comes afterwards reaches nobody.
  server_.reset();
  EXPECT_FALSE(fs::exists(options_.socketPath));
  EXPECT_TRUE(first.closedByServer());
  std::lock_guard lock(mutex_);
  ASSERT_EQ(held_.size(), 1u);
  held_.front()(false, "too late");
}

}  // namespace
}  // namespace tavero::net
