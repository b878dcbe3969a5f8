// The web process's end of the native call socket against the shell's
// server: calls answered, a refused hello, a socket that is not there, and
// the shell ending while a blocking call waits (it returns, it does not
// hang).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <cstring>
#include <thread>

#include "net/LocalMessageServer.h"
#include "webextension/ShellSocket.h"

namespace tavero::webextension {
namespace {

namespace fs = std::filesystem;
using net::LocalMessageServer;
using wire::MessageFrame;

class ShellSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("tavero-shellsocket-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    path_ = folder_ / "calls.sock";
  }
  void TearDown() override {
    server_.reset();
    fs::remove_all(folder_);
  }
  // A server that answers each message with "answer:" and the message, or
  // never answers when `silent`.
  void start(bool silent = false) {
    LocalMessageServer::Options options;
    options.socketPath = path_;
    options.acceptPeer = [](const LocalMessageServer::Peer& peer) { return peer.uid == ::geteuid(); };
    options.acceptHello = [](std::string_view token) { return token == "token"; };
    options.onRequest = [silent](const LocalMessageServer::Peer&, uint32_t, std::string message,
                                 LocalMessageServer::Reply reply) {
      if (!silent) reply(false, "answer:" + message);
    };
    auto started = LocalMessageServer::start(worker_, std::move(options));
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<LocalMessageServer>>(started));
    server_ = std::move(std::get<std::unique_ptr<LocalMessageServer>>(started));
  }

  net::QLWorkerThread worker_;
  fs::path folder_, path_;
  std::unique_ptr<LocalMessageServer> server_;
};

TEST_F(ShellSocketTest, CallsAreAnsweredUnderTheirIds) {
  start();
  ShellSocket socket(path_.string(), "token");
  ASSERT_TRUE(socket.ensureConnected());
  ASSERT_TRUE(socket.write(7, 1, "{\"calls\":[]}"));
  auto answer = socket.read();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->id, 7u);
  EXPECT_EQ(answer->tag, MessageFrame::kAnswerTag);
  EXPECT_EQ(answer->body, "answer:{\"calls\":[]}");
  EXPECT_FALSE(socket.failed());
}

TEST_F(ShellSocketTest, AWrongTokenOrNoSocketFailsAndStaysFailed) {
  start();
  ShellSocket forged(path_.string(), "a guess");
  ASSERT_TRUE(forged.ensureConnected());  // the hello goes out; the shell then closes
  forged.write(1, 1, "call");
  EXPECT_FALSE(forged.read());
  EXPECT_TRUE(forged.failed());
  EXPECT_FALSE(forged.ensureConnected());  // not tried again: pages take another road

  ShellSocket missing((folder_ / "gone.sock").string(), "token");
  EXPECT_FALSE(missing.ensureConnected());
  EXPECT_TRUE(missing.failed());
  EXPECT_FALSE(missing.closedByShell());
  EXPECT_EQ(missing.failure(), std::strerror(ENOENT));
  ShellSocket tooLong(std::string(200, 'x'), "token");
  EXPECT_FALSE(tooLong.ensureConnected());
}

TEST_F(ShellSocketTest, ABlockingCallReturnsWhenTheShellEnds) {
  start(/*silent=*/true);
  ShellSocket socket(path_.string(), "token");
  ASSERT_TRUE(socket.ensureConnected());
  ASSERT_TRUE(socket.write(1, 1, "a call the shell never answers"));
  auto waiting = std::async(std::launch::async, [&] { return socket.read(); });
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  server_.reset();  // the shell ends
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_FALSE(waiting.get());
  EXPECT_TRUE(socket.failed());
  EXPECT_TRUE(socket.closedByShell());
}

TEST_F(ShellSocketTest, AnswersReadWithoutWaitingComeWholeAndACloseIsSeen) {
  start();
  ShellSocket socket(path_.string(), "token");
  ASSERT_TRUE(socket.ensureConnected());
  for (uint32_t id = 1; id <= 3; ++id) ASSERT_TRUE(socket.write(id, 1, std::string(100000, 'a')));
  std::vector<MessageFrame> frames;
  for (int i = 0; i < 200 && frames.size() < 3; ++i) {
    ASSERT_TRUE(socket.readAvailable(frames));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[2].id, 3u);
  EXPECT_EQ(frames[2].body.size(), 100007u);
  server_.reset();
  bool open = true;
  for (int i = 0; i < 200 && open; ++i) {
    open = socket.readAvailable(frames);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(open);
  EXPECT_TRUE(socket.closedByShell());
}

}  // namespace
}  // namespace tavero::webextension
