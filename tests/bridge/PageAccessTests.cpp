// The application's bridge: only calls with the run's page token reach the
// modules, on HTTP and on the page channel; outsiders are reset before a
// byte is read; the port is kept while the app is in the background and a
// port taken by another program is given up for a free one.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <future>
#include <mutex>

#include "bridge/PageToken.h"
#include "bridge/QLTaveroBridge.h"
#include "json/JsonCodec.h"
#include "log/RefusalLog.h"
#include "support/IPv6Squatter.h"
#include "support/LoopbackClient.h"

namespace tavero::bridge {
namespace {

using testing::LoopbackClient;

class TQEcho : public TQW3CAction {
 public:
  static constexpr std::string_view className = "TQEcho";
  TQEcho() {
    addOperation("text", [](Invocation& call) { call.setResult(std::string(call.text("t"))); });
    addOperation("keys", [](Invocation& call) {
      json::Array keys;
      for (const auto& member : call.arguments()) keys.push_back(json::Value(member.key));
      call.setResult(std::move(keys));
    });
  }
};

class RefusingVerifier : public PeerVerifier {
 public:
  bool isShellPeer(const boost::asio::ip::tcp::endpoint&, const boost::asio::ip::tcp::endpoint&) override {
    return false;
  }
  std::string refusalReason() const override { return "this verifier refuses every peer"; }
};

// The channel's answer: the list of answers, the refusal of the whole
// message (with its status), or its rejection.
struct ChannelAnswer {
  std::optional<std::string> answer;
  std::string refusal;
  int status = 0;  // of a refusal
};

ChannelAnswer readChannelAnswer(std::optional<std::string> text, std::string rejection) {
  if (!text) return {std::nullopt, std::move(rejection), 0};
  if (!text->starts_with('{')) return {std::move(text), {}, 0};
  auto refusal = json::JsonCodec::dictionaryWithJSONString(*text);
  if (!refusal || !refusal->find("refusal") || !refusal->find("status"))
    return {std::nullopt, "unreadable: " + *text, 0};
  return {std::nullopt, refusal->find("refusal")->asString(), static_cast<int>(refusal->find("status")->toInt64())};
}

class PageAccess : public ::testing::Test {
 protected:
  // Each case counts its own refusal lines.
  void SetUp() override { log::RefusalLog::shared().startAfresh(); }

  void makeBridge(bool allowPlainPages = false, uint16_t port = 0, bool otherPortWhenTaken = false) {
    modules_.add("TQEcho", [] { return std::make_unique<TQEcho>(); });
    bridge_ = std::make_unique<QLTaveroBridge>(
        modules_, QLTaveroBridge::Options{
                      .port = port,
                      .otherPortWhenTaken = otherPortWhenTaken,
                      .keepPortWhileStopped = true,
                      .policy = BridgeAccessPolicy(BridgeAccessPolicy::Clients::appPages, token_, allowPlainPages),
                  });
  }

  int status(const std::string& target, const std::string& headers = {}) {
    LoopbackClient client(bridge_->port());
    client.send("GET " + target + " HTTP/1.1\r\nHost: localhost:" + std::to_string(bridge_->port()) +
                "\r\nOrigin: null\r\n" + headers + "\r\n");
    auto answer = client.readAnswer();
    return answer ? answer->status : 0;
  }

  ChannelAnswer send(const std::string& message, const std::string& view = "index.html") {
    std::promise<ChannelAnswer> done;
    bridge_->pageChannel()->receive(view, message, [&](std::optional<std::string> answer, std::string rejection) {
      done.set_value(readChannelAnswer(std::move(answer), std::move(rejection)));
    });
    auto future = done.get_future();
    EXPECT_EQ(future.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    return future.get();
  }

  std::string message(const std::string& calls, const std::string& token) {
    return "{\"token\": \"" + token + "\", \"calls\": [" + calls + "]}";
  }

  std::string token_ = makePageToken();
  ModuleRegistry modules_;
  std::unique_ptr<QLTaveroBridge> bridge_;
};

TEST(PageTokens, AreFreshForEveryRunAndComparedWhole) {
  std::string a = makePageToken(), b = makePageToken();
  EXPECT_EQ(a.size(), 64u);
  EXPECT_NE(a, b);
  EXPECT_TRUE(pageTokensMatch(a, a));
  EXPECT_FALSE(pageTokensMatch(a, a.substr(0, 63)));
  EXPECT_FALSE(pageTokensMatch(a, b));
  EXPECT_FALSE(pageTokensMatch("", ""));  // no token set: nothing matches
}

TEST_F(PageAccess, HTTPCallsNeedThePageTokenWhichModulesNeverSee) {
  makeBridge();
  EXPECT_EQ(status("/?command=Echo%23text&sync=true&t=x&__token=" + token_), 200);
  EXPECT_EQ(status("/?command=Echo%23text&sync=true&t=x", "X-Tavero-Token: " + token_ + "\r\n"), 200);
  EXPECT_EQ(status("/?command=Echo%23text&sync=true&t=x"), 403);  // a framed web page's <img>
  EXPECT_EQ(status("/?command=Echo%23text&sync=true&t=x&__token=" + makePageToken()), 403);
  EXPECT_EQ(status("/?command=Echo%23text&sync=true&t=x&__token=%5B" + token_ + "%5D"), 403);
  EXPECT_EQ(status("/?__token=" + token_), 400);  // a caller with the token still gets the usual errors

  LoopbackClient client(bridge_->port());
  client.send(testing::getRequest("/?command=Echo%23keys&sync=true&a=1&__token=" + token_, bridge_->port()));
  auto answer = client.readAnswer();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->body.find("__token"), std::string::npos) << answer->body;
}

// Lines the log receives while it lives.
class LogLines {
 public:
  LogLines() {
    log::setSink([this](log::Level, std::string_view line) {
      std::lock_guard lock(mutex_);
      text_ += std::string(line) + "\n";
      ++count_;
    });
  }
  ~LogLines() { log::setSink({}); }
  std::string text() {
    std::lock_guard lock(mutex_);
    return text_;
  }
  size_t count() {
    std::lock_guard lock(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  std::string text_;
  size_t count_ = 0;
};

TEST_F(PageAccess, TheTokenIsCheckedBeforeAnyArgumentIsDecoded) {
  makeBridge();
  {
    // Without the token, a malformed argument is never looked at: the
    // refusal names the token.
    LogLines lines;
    EXPECT_EQ(status("/?command=Echo%23text&sync=true&t=%zz"), 403);
    EXPECT_NE(lines.text().find("carries no page token"), std::string::npos) << lines.text();
    EXPECT_EQ(lines.text().find("argument"), std::string::npos) << lines.text();
  }
  // With it, the malformed argument gets the usual answer, which the page can read.
  EXPECT_EQ(status("/?command=Echo%23text&sync=true&t=%zz&__token=" + token_), 400);
  EXPECT_EQ(status("/?t=%zz&__token=" + token_ + "&command=Echo%23text&sync=true"), 400);
  EXPECT_EQ(status("/?command=Echo%23text&sync=true&t=%zz&__token=" + makePageToken()), 403);

  // A form body is settled the same way: a wrong token in a large body of
  // malformed pieces is refused as a wrong token.
  std::string body = "__token=" + makePageToken();
  for (int i = 0; i < 20000; ++i) body += "&p" + std::to_string(i) + "=%zz";
  LogLines lines;
  LoopbackClient client(bridge_->port());
  client.send("POST /?command=Echo%23text&sync=true HTTP/1.1\r\nHost: localhost:" + std::to_string(bridge_->port()) +
              "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
              std::to_string(body.size()) + "\r\n\r\n" + body);
  auto answer = client.readAnswer();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 403);
  EXPECT_NE(lines.text().find("page token is wrong"), std::string::npos) << lines.text();
}

TEST_F(PageAccess, AFloodOfRefusedRequestsWritesABoundedNumberOfLines) {
  makeBridge();
  bridge_->setPeerVerifier(std::make_unique<RefusingVerifier>());
  LogLines lines;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 60; ++i) {
    LoopbackClient client(bridge_->port());
    client.send(testing::getRequest("/?command=Echo%23text&sync=true", bridge_->port()));
    EXPECT_FALSE(client.readAnswer());
  }
  bridge_->setPeerVerifier(nullptr);
  for (int i = 0; i < 60; ++i) EXPECT_EQ(status("/?command=Echo%23text&sync=true&t=x"), 403);
  for (int i = 0; i < 60; ++i) EXPECT_FALSE(send(message("", "wrong")).answer);
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  // Every interval begun during the flood may write its lines, no more.
  EXPECT_LE(lines.count(), log::RefusalLog::kLinesPerInterval * static_cast<size_t>(seconds + 2)) << lines.text();
  EXPECT_GE(lines.count(), 1u);
}

TEST_F(PageAccess, PlainPagesMayCallWithoutTheTokenOnlyWhenTheBundleAllowsIt) {
  makeBridge(/*allowPlainPages=*/true);
  EXPECT_EQ(status("/?command=Echo%23text&sync=true&t=x"), 200);
  EXPECT_EQ(status("/?command=Echo%23text&sync=true&t=x&__token=wrong"), 403);
}

TEST_F(PageAccess, RefusedPeersAreResetBeforeTheirRequestIsRead) {
  makeBridge();
  bridge_->setPeerVerifier(std::make_unique<RefusingVerifier>());
  LoopbackClient client(bridge_->port());
  client.send(testing::getRequest("/?command=Echo%23text&sync=true&__token=" + token_, bridge_->port()));
  EXPECT_FALSE(client.readAnswer());
  EXPECT_EQ(bridge_->worker().performAndWait([&] { return bridge_->openConnectionCount(); }), 0u);
}

TEST_F(PageAccess, TheChannelRunsTheCallsOfAMessageInOrderAndAnswersEachOne) {
  makeBridge();
  auto reply = send(message(R"({"command": "Echo#text", "sync": true, "args": {"t": "[1,2]"}},
                               {"command": "Echo#nothing", "sync": true},
                               {"command": "Echo#text", "sync": false, "args": {"t": "queued"}},
                               {"command": "Echo#text", "sync": true, "args": {"t": 5}},
                               {"command": "Echo#text", "sync": true, "args": {"t": "caf\u00e9"}})",
                        token_));
  ASSERT_TRUE(reply.answer) << reply.refusal;
  EXPECT_EQ(*reply.answer,
            "[{\"status\" : 200, \"result\" : \"[1,2]\"}, {\"status\" : 404}, {\"status\" : 200}, "
            "{\"status\" : 400}, {\"status\" : 200, \"result\" : \"caf\xC3\xA9\"}]");
}

TEST_F(PageAccess, TheChannelRefusesMessagesWithoutTheTokenAndWhileStopped) {
  makeBridge();
  const std::string call = R"({"command": "Echo#text", "sync": true, "args": {"t": "x"}})";
  // Without the token: rejected, with no status for web content to read.
  EXPECT_FALSE(send(message(call, "")).answer);
  EXPECT_FALSE(send(message(call, makePageToken())).answer);
  EXPECT_EQ(send("[1, 2]").status, 0);
  // The token is read from the raw text, first member first: a message
  // whose token comes later, or is escaped, is not read any further.
  EXPECT_EQ(send(R"({"calls": [], "token": ")" + token_ + "\"}").refusal,
            "refused: only the application's own documents may call the shell");
  EXPECT_FALSE(send("{\"token\": \"\\u0061" + token_.substr(1) + "\", \"calls\": []}").answer);
  EXPECT_TRUE(send(" {\n\"token\"\t:\r\"" + token_ + "\", \"calls\": []}").answer);
  EXPECT_EQ(send("{\"token\": \"" + token_ + "\", \"calls\": 7}").status, 400);
  std::string tooMany;
  for (size_t i = 0; i <= PageMessageChannel::kMaxCallsPerMessage; ++i) tooMany += (i ? "," : "") + call;
  EXPECT_FALSE(send(message(tooMany, token_)).answer);

  bridge_->stopServer();
  EXPECT_EQ(send(message(call, "")).status, 0) << "rejected, not told that the app is in the background";
  ChannelAnswer stopped = send(message(call, token_));
  EXPECT_EQ(stopped.status, 503);
  EXPECT_EQ(stopped.refusal, "the shell is not serving (the application is in the background)");
  ASSERT_FALSE(bridge_->startServer());
  EXPECT_TRUE(send(message(call, token_)).answer);
}

TEST_F(PageAccess, MessagesOfOneViewRunInArrivalOrder) {
  makeBridge();
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> answers;
  for (int i = 0; i < 50; ++i) {
    bridge_->pageChannel()->receive(
        "index.html",
        message(R"({"command": "Echo#text", "sync": true, "args": {"t": ")" + std::to_string(i) + "\"}}", token_),
        [&](std::optional<std::string> answer, std::string) {
          std::lock_guard lock(mutex);
          answers.push_back(answer.value_or("rejected"));
          changed.notify_all();
        });
  }
  std::unique_lock lock(mutex);
  ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return answers.size() == 50; }));
  for (int i = 0; i < 50; ++i)
    EXPECT_EQ(answers[i], "[{\"status\" : 200, \"result\" : \"" + std::to_string(i) + "\"}]");
}

using testing::IPv6Squatter;

TEST_F(PageAccess, APortAnotherProgramHoldsOnEitherAddressIsGivenUpForAFreeOne) {
  IPv6Squatter squatter;
  if (!squatter.ok()) GTEST_SKIP() << "this machine has no IPv6 loopback";
  makeBridge(false, squatter.port(), /*otherPortWhenTaken=*/true);
  ASSERT_TRUE(bridge_->isServing());
  EXPECT_NE(bridge_->port(), squatter.port());
  EXPECT_EQ(status("/?command=Echo%23text&sync=true&t=x&__token=" + token_), 200);
}

TEST_F(PageAccess, WhileStoppedThePortStaysOursAndConnectionsAreRefused) {
  makeBridge();
  uint16_t port = bridge_->port();
  bridge_->stopServer();
  LoopbackClient refused(port);
  refused.send(testing::getRequest("/?command=Echo%23text&sync=true&__token=" + token_, port));
  EXPECT_FALSE(refused.readAnswer());
  // No other program can take the port meanwhile.
  int other = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  ::setsockopt(other, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  EXPECT_NE(::bind(other, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(other);

  ASSERT_FALSE(bridge_->startServer());
  EXPECT_EQ(bridge_->port(), port);
  EXPECT_EQ(status("/?command=Echo%23text&sync=true&t=x&__token=" + token_), 200);
}

// A synchronous call on a connection kept alive from before the stop is
// not answered either: the connection is closed with the stop.
TEST_F(PageAccess, StoppingClosesKeptAliveConnections) {
  makeBridge();
  const std::string request = testing::getRequest("/?command=Echo%23text&sync=true&t=x&__token=" + token_,
                                                  bridge_->port());
  LoopbackClient kept(bridge_->port());
  kept.send(request);
  auto first = kept.readAnswer();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->status, 200);
  bridge_->stopServer();
  EXPECT_TRUE(kept.waitForClose());
  ASSERT_FALSE(bridge_->startServer());
  EXPECT_EQ(status("/?command=Echo%23text&sync=true&t=x&__token=" + token_), 200);
}

}  // namespace
}  // namespace tavero::bridge
