#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "control/ControlClient.h"
#include "control/ControlProtocol.h"
#include "control/ControlServer.h"
#include "control/UnixSocketPath.h"
#include "log/Log.h"
#include "support/QueueMainThread.h"

namespace tavero::control {
namespace {

namespace fs = std::filesystem;

class ControlServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("tavero-control-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    commands_.add({.name = "echo",
                   .usage = "WORD...",
                   .help = "answers its words",
                   .thread = ControlThread::Any,
                   .handler = [](ControlArguments& args) {
                     json::Array words;
                     while (auto word = args.nextIfAny()) words.emplace_back(*word);
                     return ControlAnswer::value(json::Value(std::move(words)));
                   }});
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::unique_ptr<ControlServer> start(ControlServer::Limits limits = {}) {
    auto server = ControlServer::start(socket(), commands_, limits);
    if (auto* error = std::get_if<std::string>(&server)) {
      ADD_FAILURE() << *error;
      return nullptr;
    }
    return std::move(std::get<std::unique_ptr<ControlServer>>(server));
  }
  ControlClient connect() {
    auto client = ControlClient::connect(socket());
    if (auto* error = std::get_if<std::string>(&client)) ADD_FAILURE() << *error;
    return std::get<ControlClient>(std::move(client));
  }
  fs::path socket() const { return folder_ / "control.sock"; }

  fs::path folder_;
  ControlCommandRegistry commands_{nullptr};
};

TEST(UnixSocketAddressTest, HoldsAddressesThatFitWholeAndRefusesOthers) {
  std::string longest(UnixSocketPath::kMaxAddressLength, 'a');
  longest.front() = '/';
  auto address = unixSocketAddress(longest);
  ASSERT_TRUE(address);
  EXPECT_EQ(address->sun_family, AF_UNIX);
  EXPECT_EQ(std::string(address->sun_path), longest);  // and a NUL after it
  EXPECT_FALSE(unixSocketAddress(longest + "a"));
  EXPECT_FALSE(unixSocketAddress(""));
  EXPECT_FALSE(unixSocketAddress(std::string("/tmp/a\0b", 8)));
}

TEST_F(ControlServerTest, AnswersEachRequestLineInOrderOnOneConnection) {
  auto server = start();
  ASSERT_TRUE(server);
  ControlClient client = connect();
  // Words that look like JSON, quotes, line feeds and non-ASCII stay words.
  std::vector<std::string> tricky = {"{\"a\":1}", "say \"hi\"", "two\nlines", "h\u00e9llo", ""};
  std::vector<std::string> words = {"echo"};
  words.insert(words.end(), tricky.begin(), tricky.end());
  ControlAnswer answer = client.request(words);
  ASSERT_TRUE(answer.ok()) << answer.errorMessage();
  json::Array expected(tricky.begin(), tricky.end());
  EXPECT_EQ(answer.value(), json::Value(expected));
  // Two requests sent at once get their answers in order.
  ASSERT_TRUE(client.sendRaw(requestLine({"echo", "1"}) + requestLine({"echo", "2"})));
  EXPECT_EQ(parseAnswerLine(client.readLine()).value(), json::Value(json::Array{"1"}));
  EXPECT_EQ(parseAnswerLine(client.readLine()).value(), json::Value(json::Array{"2"}));
  ControlAnswer unknown = client.request({"nothing"});
  EXPECT_FALSE(unknown.ok());
}

TEST_F(ControlServerTest, TheSocketIsPrivateAndGoesAwayWithTheServer) {
  auto server = start();
  ASSERT_TRUE(server);
  struct stat info {};
  ASSERT_EQ(::lstat(socket().c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  server.reset();
  EXPECT_FALSE(fs::exists(socket()));
  auto gone = ControlClient::connect(socket());
  ASSERT_TRUE(std::holds_alternative<std::string>(gone));
  EXPECT_NE(std::get<std::string>(gone).find("no app is running"), std::string::npos);
}

TEST_F(ControlServerTest, AStaleSocketIsReplacedButALiveOneAndOtherFilesAreLeftAlone) {
  // A socket file nobody listens on: what a shell killed with -9 leaves.
  {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    auto address = unixSocketAddress(socket().native());
    ASSERT_TRUE(address);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&*address), sizeof *address), 0);
    ::close(fd);
  }
  auto stale = ControlClient::connect(socket());
  ASSERT_TRUE(std::holds_alternative<std::string>(stale));
  EXPECT_NE(std::get<std::string>(stale).find("left by a shell that ended"), std::string::npos);
  auto server = start();
  ASSERT_TRUE(server);
  EXPECT_TRUE(connect().request({"echo"}).ok());

  // A second server on the same home must not take the socket over.
  auto second = ControlServer::start(socket(), commands_);
  ASSERT_TRUE(std::holds_alternative<std::string>(second));
  EXPECT_NE(std::get<std::string>(second).find("another shell is running"), std::string::npos);
  EXPECT_TRUE(connect().request({"echo"}).ok());
  server.reset();

  // A symbolic link in its place is not followed, and neither it nor its
  // target is removed.
  std::ofstream(folder_ / "target") << "keep";
  fs::create_symlink(folder_ / "target", socket());
  auto onALink = ControlServer::start(socket(), commands_);
  ASSERT_TRUE(std::holds_alternative<std::string>(onALink));
  EXPECT_TRUE(fs::is_symlink(socket()));
  EXPECT_TRUE(fs::exists(folder_ / "target"));
  fs::remove(socket());

  std::ofstream(socket()) << "my notes";
  auto onAFile = ControlServer::start(socket(), commands_);
  ASSERT_TRUE(std::holds_alternative<std::string>(onAFile));
  EXPECT_NE(std::get<std::string>(onAFile).find("not a socket"), std::string::npos);
  std::ifstream in(socket());
  std::string kept;
  std::getline(in, kept);
  EXPECT_EQ(kept, "my notes");
}

TEST_F(ControlServerTest, ASocketThatAnotherShellPutInPlaceIsNotRemovedAtTheEnd) {
  auto server = start();
  ASSERT_TRUE(server);
  // Someone replaced the file (say after deleting the home by hand).
  fs::remove(socket());
  std::ofstream(socket()) << "not ours";
  server.reset();
  EXPECT_TRUE(fs::exists(socket()));
}

TEST_F(ControlServerTest, BadRequestsGetAnErrorAndTheConnectionGoesOn) {
  auto server = start();
  ASSERT_TRUE(server);
  ControlClient client = connect();
  for (std::string bad : {"not json", "{\"arguments\": \"echo\"}", "{\"arguments\": [1, 2]}", "[\"echo\"]",
                          "{\"arguments\": [\"echo\", \"\xff\xfe\"]}"}) {
    ASSERT_TRUE(client.sendRaw(bad + "\n"));
    ControlAnswer answer = parseAnswerLine(client.readLine());
    EXPECT_FALSE(answer.ok()) << bad;
  }
  EXPECT_TRUE(client.request({"echo", "still here"}).ok());
}

TEST_F(ControlServerTest, AnOverlongRequestIsRefusedAndTheConnectionClosed) {
  auto server = start({.maxLineLength = 1000, .maxConnections = 4, .idleTimeout = std::chrono::seconds(30)});
  ASSERT_TRUE(server);
  ControlClient client = connect();
  ASSERT_TRUE(client.sendRaw(requestLine({"echo", std::string(5000, 'x')})));
  ControlAnswer answer = parseAnswerLine(client.readLine());
  ASSERT_FALSE(answer.ok());
  EXPECT_NE(answer.errorMessage().find("longer than 1000 bytes"), std::string::npos);
  EXPECT_EQ(client.readLine(), "");  // closed
  EXPECT_TRUE(connect().request({"echo", std::string(900, 'y')}).ok());
}

TEST_F(ControlServerTest, ConnectionsBeyondTheLimitAreRefusedAndIdleOnesClosed) {
  auto server = start({.maxLineLength = 1000, .maxConnections = 2, .idleTimeout = std::chrono::milliseconds(200)});
  ASSERT_TRUE(server);
  ControlClient first = connect();
  ControlClient second = connect();
  ASSERT_TRUE(first.request({"echo"}).ok());
  ASSERT_TRUE(second.request({"echo"}).ok());
  ControlClient third = connect();
  ControlAnswer refused = parseAnswerLine(third.readLine());
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(refused.errorMessage().find("too many"), std::string::npos);
  // The two idle connections are closed after the idle limit, which makes room.
  EXPECT_EQ(first.readLine(), "");
  EXPECT_EQ(second.readLine(), "");
  EXPECT_TRUE(connect().request({"echo"}).ok());
}

TEST_F(ControlServerTest, ManyClientsAtOnceEachGetTheirOwnAnswersInOrder) {
  auto server = start();
  ASSERT_TRUE(server);
  std::atomic<int> wrong{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 8; ++c) {
    clients.emplace_back([&, c] {
      auto client = ControlClient::connect(socket());
      if (!std::holds_alternative<ControlClient>(client)) {
        ++wrong;
        return;
      }
      for (int i = 0; i < 25; ++i) {
        std::string word = std::to_string(c) + "-" + std::to_string(i);
        ControlAnswer answer = std::get<ControlClient>(client).request({"echo", word});
        if (!answer.ok() || answer.value() != json::Value(json::Array{word})) ++wrong;
      }
    });
  }
  for (auto& client : clients) client.join();
  EXPECT_EQ(wrong, 0);
}

// The web view's processes are started after the server: a listener they
// inherited would outlive a shell killed with -9 and answer for it.
TEST_F(ControlServerTest, NoSocketOfTheServerIsInheritedByChildProcesses) {
  auto server = start();
  ASSERT_TRUE(server);
  ControlClient client = connect();
  ASSERT_TRUE(client.request({"echo"}).ok());  // the server's end of it is open now
  int sockets = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    std::string target = fs::read_symlink(entry.path(), ec).string();
    if (ec || !target.starts_with("socket:")) continue;
    int fd = std::stoi(entry.path().filename().string());
    ++sockets;
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC) << "socket " << fd << " would be inherited";
  }
  EXPECT_GE(sockets, 3);  // the listener, the connection's two ends
}

TEST_F(ControlServerTest, AHomeWithAPathLongerThanASocketAddressStillWorks) {
  folder_ /= std::string(120, 'h');
  fs::create_directories(folder_);
  auto server = start();
  ASSERT_TRUE(server);
  EXPECT_TRUE(fs::exists(socket()));
  EXPECT_TRUE(connect().request({"echo"}).ok());
  server.reset();
  EXPECT_FALSE(fs::exists(socket()));
}

// Lowers this process's descriptor limit to the lowest free descriptor
// number, so that no new descriptor can be made until one below it is
// closed; the limit comes back when this goes.
class NoFreeDescriptors {
 public:
  explicit NoFreeDescriptors(int anyOpenDescriptor) {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    int lowestFree = ::fcntl(anyOpenDescriptor, F_DUPFD, 0);
    ::close(lowestFree);
    rlimit lowered = saved_;
    lowered.rlim_cur = static_cast<rlim_t>(lowestFree);
    applied_ = lowestFree > 0 && ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
  }
  ~NoFreeDescriptors() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
  bool applied() const { return applied_; }

 private:
  rlimit saved_{};
  bool applied_ = false;
};

// The times of the log lines containing `text`, as they come.
class LineTimes {
 public:
  explicit LineTimes(std::string text) : text_(std::move(text)) {
    log::setSink([this](log::Level, std::string_view line) {
      if (line.find(text_) == std::string_view::npos) return;
      std::lock_guard lock(mutex_);
      times_.push_back(std::chrono::steady_clock::now());
      changed_.notify_all();
    });
  }
  ~LineTimes() { log::setSink({}); }
  // The first `n` times; fewer when they do not come within ten seconds.
  std::vector<std::chrono::steady_clock::time_point> waitFor(size_t n) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return times_.size() >= n; });
    return {times_.begin(), times_.begin() + static_cast<long>(std::min(n, times_.size()))};
  }

 private:
  std::string text_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::chrono::steady_clock::time_point> times_;
};

// A Unix socket client made before descriptors run out; connect() needs no new one.
int unconnectedSocket() { return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0); }
bool connectTo(int fd, const fs::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}
// One answer line read from `fd`, waiting at most five seconds in all.
std::string readAnswerLine(int fd) {
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (line.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd waiting{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&waiting, 1, static_cast<int>(left.count())) <= 0) break;
    char chunk[256];
    ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got <= 0) break;
    line.append(chunk, static_cast<size_t>(got));
  }
  return line;
}

// Out of descriptors, the server cannot take a waiting connection: it tries
// again now and then (not in a busy loop), takes it once a descriptor is
// free, and serves on.
TEST_F(ControlServerTest, RunningOutOfDescriptorsDelaysConnectionsWithoutSpinningOrFailing) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizers test whether memory is readable through a pipe: with no
  // descriptor left they take every object for an invalid one.
  GTEST_SKIP() << "the sanitizers' own checks need free descriptors";
#endif
  auto server = start();
  ASSERT_TRUE(server);
  const int waiting = unconnectedSocket(), spare = unconnectedSocket();
  ASSERT_GE(waiting, 0);
  ASSERT_GE(spare, 0);
  LineTimes failures("accepting a connection failed");
  {
    NoFreeDescriptors exhausted(waiting);
    ASSERT_TRUE(exhausted.applied());
    ASSERT_TRUE(connectTo(waiting, socket()));
    ASSERT_TRUE(::send(waiting, requestLine({"echo", "late"}).data(), requestLine({"echo", "late"}).size(),
                       MSG_NOSIGNAL) > 0);
    auto times = failures.waitFor(3);
    ASSERT_EQ(times.size(), 3u) << "the server did not keep trying to accept";
    for (size_t i = 1; i < times.size(); ++i)
      EXPECT_GE(times[i] - times[i - 1], std::chrono::milliseconds(50)) << "tries " << i << " and " << i + 1;
    EXPECT_EQ(server->connectionCount(), 0u);
    // One descriptor frees up (the limit still holds): the waiting
    // connection gets it and its answer.
    ::close(spare);
    std::string answer = readAnswerLine(waiting);
    ASSERT_FALSE(answer.empty()) << "the waiting connection was never served";
    EXPECT_EQ(parseAnswerLine(answer.substr(0, answer.find('\n'))).value(), json::Value(json::Array{"late"}));
  }
  ::close(waiting);
  // With the limit back, the server serves as before.
  ControlClient client = connect();
  ControlAnswer again = client.request({"echo", "again"});
  ASSERT_TRUE(again.ok()) << again.errorMessage();
  EXPECT_EQ(again.value(), json::Value(json::Array{"again"}));
}

// A test main thread that tells whoever waits when a task is posted to it.
class SignallingMainThread : public testing::QueueMainThread {
 public:
  void post(std::function<void()> task) override {
    testing::QueueMainThread::post(std::move(task));
    std::lock_guard lock(mutex_);
    ++posted_;
    changed_.notify_all();
  }
  // Runs posted tasks until `done()` holds, waiting for each new task;
  // false when it does not hold within ten seconds.
  bool runUntil(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      int seen;
      {
        std::lock_guard lock(mutex_);
        seen = posted_;
      }
      runPending();
      if (done()) return true;
      std::unique_lock lock(mutex_);
      if (!changed_.wait_until(lock, deadline, [&] { return posted_ != seen || done(); })) return done();
    }
  }
  // Waits until `n` tasks in all have been posted.
  bool waitForPosted(int n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return posted_ >= n; });
  }
  // Wakes runUntil (from another thread) after `done()` may have changed.
  void poke() {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int posted_ = 0;
};

TEST_F(ControlServerTest, MainThreadCommandsAreAnsweredWhenTheMainLoopRunsThem) {
  SignallingMainThread main;
  ControlCommandRegistry commands(&main);
  std::atomic<int> ran{0};
  commands.add({.name = "tap", .usage = "", .help = "", .thread = ControlThread::Main, .handler = [&](ControlArguments&) {
                  ++ran;
                  return ControlAnswer::value(main.isMainThread());
                }});
  auto started = ControlServer::start(socket(), commands);
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<ControlServer>>(started));
  auto server = std::move(std::get<std::unique_ptr<ControlServer>>(started));

  std::atomic<bool> answered{false};
  std::optional<ControlAnswer> answer;
  std::thread client([&] {
    answer = ControlClient::send(socket(), {"tap"});
    answered = true;
    main.poke();
  });
  EXPECT_TRUE(main.runUntil([&] { return answered.load(); }));
  client.join();
  ASSERT_TRUE(answer && answer->ok());
  EXPECT_EQ(answer->value(), json::Value(true));
  EXPECT_EQ(ran, 1);

  // A command still waiting for the main thread when the server stops: the
  // client sees the connection close, and nothing crashes later.
  ControlClient waiting = std::get<ControlClient>(ControlClient::connect(socket()));
  ASSERT_TRUE(waiting.sendRaw(requestLine({"tap"})));
  ASSERT_TRUE(main.waitForPosted(2)) << "the second command never reached the main thread";
  server.reset();
  EXPECT_EQ(waiting.readLine(std::chrono::seconds(5)), "");
  main.runPending();
  EXPECT_EQ(ran, 2);  // it ran, and its answer had nowhere to go
}

}  // namespace
}  // namespace tavero::control
