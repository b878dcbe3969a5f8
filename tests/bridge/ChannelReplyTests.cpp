// Answers carried in the page channel's reply: a queued call that names the
// callback ids it answers once through gets that answer in its message's
// reply, in its place among the message's entries; ids the table cannot
// take, and calls that do not run, fall back to callback scripts and plain
// entries.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "bridge/CallbackDelivery.h"
#include "bridge/PageToken.h"
#include "bridge/QLTaveroBridge.h"
#include "json/JsonCodec.h"

namespace tavero::bridge {
namespace {

// Stands for the engine: answers the reply's waiters first, the rest become
// "scripts" the test can look at.
class RecordingDelivery : public CallbackDelivery {
 public:
  CallbackReplies* replies = nullptr;
  void invokeCallback(int callbackId, const std::optional<json::Value>& value, std::string_view) override {
    if (replies && replies->take(callbackId, value)) return;
    std::lock_guard lock(mutex_);
    scripts_.push_back({callbackId, value ? json::JsonCodec::jsonStringForValue(*value, -1) : ""});
  }
  std::vector<std::pair<int, std::string>> scripts() {
    std::lock_guard lock(mutex_);
    return scripts_;
  }
  // The scripts once there are `count` (the operations run on the queue's
  // threads, after the message was answered); gives up after 5 s.
  std::vector<std::pair<int, std::string>> scripts(size_t count) {
    for (int i = 0; i < 500 && scripts().size() < count; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return scripts();
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<int, std::string>> scripts_;
};

// Queued operations that answer the way modules do: "echo" answers its
// success callback with "t", or its failure callback when "fail" is set;
// "keep" holds its ids until the test answers them.
class TQLater : public TQW3CAction {
 public:
  static constexpr std::string_view className = "TQLater";
  TQLater(CallbackDelivery& delivery, std::vector<int>& kept) {
    addOperation("echo", [&delivery](Invocation& call) {
      if (call.flag("fail"))
        delivery.invokeCallback(call.integer("failure"), json::Value("Could not echo: invalid state"));
      else
        delivery.invokeCallback(call.integer("success"), json::Value(std::string(call.text("t"))));
    });
    addOperation("keep", [&kept](Invocation& call) { kept.push_back(call.integer("success")); });
  }
};

class ChannelReply : public ::testing::Test {
 protected:
  void SetUp() override {
    modules_.add("TQLater", [this] { return std::make_unique<TQLater>(delivery_, kept_); });
    bridge_ = std::make_unique<QLTaveroBridge>(
        modules_, QLTaveroBridge::Options{.port = 0, .policy = BridgeAccessPolicy(BridgeAccessPolicy::Clients::appPages, token_)});
    delivery_.replies = &bridge_->callbackReplies();
  }

  // Sends the calls; a future of the reply's text ("rejected: ..." for a
  // rejection).
  std::future<std::string> post(const std::string& calls) {
    auto done = std::make_shared<std::promise<std::string>>();
    bridge_->pageChannel()->receive("index.html", "{\"token\": \"" + token_ + "\", \"calls\": [" + calls + "]}",
                                    [done](std::optional<std::string> answer, std::string rejection) {
                                      done->set_value(answer ? *answer : "rejected: " + rejection);
                                    });
    return done->get_future();
  }
  std::string send(const std::string& calls) {
    auto reply = post(calls);
    EXPECT_EQ(reply.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    return reply.get();
  }
  static std::string echo(int success, int failure, const std::string& argsExtra = {}) {
    return R"({"command": "Later#echo", "answers": [")" + std::to_string(success) + R"(", ")" +
           std::to_string(failure) + R"("], "args": {"success": ")" + std::to_string(success) +
           R"(", "failure": ")" + std::to_string(failure) + "\"" + argsExtra + "}}";
  }

  std::string token_ = makePageToken();
  RecordingDelivery delivery_;
  std::vector<int> kept_;
  ModuleRegistry modules_;
  std::unique_ptr<QLTaveroBridge> bridge_;
};

TEST_F(ChannelReply, AnswersComeInTheirCallsPlacesAndNoScriptIsFormed) {
  auto reply = send(echo(11, 12, R"(, "t": "first")") + R"(, {"command": "Later#nothing"}, )" +
                    echo(13, 14, R"(, "fail": "1")"));
  EXPECT_EQ(reply,
            R"([{"status" : 200, "answer" : {"callback" : "11", "value" : "first"}}, {"status" : 404}, )"
            R"({"status" : 200, "answer" : {"callback" : "14", "value" : "Could not echo: invalid state"}}])");
  EXPECT_TRUE(delivery_.scripts().empty());
  EXPECT_EQ(bridge_->callbackReplies().waiting(), 0u);  // the unused ids of each call are gone too
}

TEST_F(ChannelReply, HostileAndLargeTextsComeBackExactly) {
  std::string hostile = "\"</script><script>alert(1)</script>\\\u2028\u2029\x01\x1f'`${x}";
  std::string large(4 << 20, 'x');
  for (size_t i = 0; i < large.size(); i += 997) large[i] = '"';
  for (const std::string& text : {hostile, large}) {
    auto reply = send(echo(21, 22, ", \"t\": " + json::JsonCodec::jsonStringValue(text)));
    auto answers = json::JsonCodec::arrayWithJSONString(reply);
    ASSERT_TRUE(answers && answers->size() == 1) << reply.substr(0, 200);
    const json::Value* answer = (*answers)[0].asObject().find("answer");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->asObject().find("value")->asString(), text);
  }
}

TEST_F(ChannelReply, MalformedAnswerListsRefuseTheCallAndRunNothing) {
  for (const char* answers : {R"("12")", R"(["1", "2", "3"])", R"(["-1"])", R"(["1e3"])", R"([12])",
                              R"(["2147483648"])", R"(["12345678901"])", R"([""])"}) {
    auto reply = send(std::string(R"({"command": "Later#keep", "answers": )") + answers +
                      R"(, "args": {"success": "12"}})");
    EXPECT_EQ(reply, R"([{"status" : 400}])") << answers;
  }
  EXPECT_TRUE(kept_.empty());
  EXPECT_EQ(bridge_->callbackReplies().waiting(), 0u);
}

TEST_F(ChannelReply, IdsUpToTheLargestIntAreTaken) {
  // Pages number their callbacks from a random point below 2^30.
  EXPECT_EQ(send(echo(2147483647, 1073741824, R"(, "t": "high")")),
            R"([{"status" : 200, "answer" : {"callback" : "2147483647", "value" : "high"}}])");
}

TEST_F(ChannelReply, TheReplyWaitsForALateAnswerWhileLaterMessagesGoOn) {
  auto first = post(R"({"command": "Later#keep", "answers": ["31"], "args": {"success": "31"}})");
  EXPECT_EQ(send(echo(41, 42, R"(, "t": "later message")")),
            R"([{"status" : 200, "answer" : {"callback" : "41", "value" : "later message"}}])");
  EXPECT_EQ(first.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  ASSERT_EQ(kept_, std::vector<int>{31});
  std::thread([this] { delivery_.invokeCallback(31, std::nullopt, {}); }).join();  // from another thread
  ASSERT_EQ(first.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(first.get(), R"([{"status" : 200, "answer" : {"callback" : "31", "value" : ""}}])");
}

TEST_F(ChannelReply, IdsAlreadyWaitingAndRefusedCallsFallBackToScripts) {
  auto held = post(R"({"command": "Later#keep", "answers": ["51"], "args": {"success": "51"}})");
  // Another call naming an id that waits is answered at once, its answer by
  // script.
  EXPECT_EQ(send(echo(53, 51, R"(, "t": "again")")), R"([{"status" : 200}])");
  EXPECT_EQ(delivery_.scripts(1), (std::vector<std::pair<int, std::string>>{{53, "\"again\""}}));
  // A call that does not run gives its status and leaves no ids waiting.
  EXPECT_EQ(send(R"({"command": "Later#missing", "answers": ["61", "62"], "args": {}})"), R"([{"status" : 404}])");
  EXPECT_EQ(bridge_->callbackReplies().waiting(), 1u);  // 51, still held
  delivery_.invokeCallback(51, json::Value(true), {});
  EXPECT_EQ(held.get(), R"([{"status" : 200, "answer" : {"callback" : "51", "value" : true}}])");
}

TEST(CallbackReplies, TheTableIsBoundedAndIdsAreTakenOnce) {
  CallbackReplies replies;
  int answered = 0;
  for (int id = 1; id <= static_cast<int>(CallbackReplies::kMaxWaiting); ++id)
    ASSERT_TRUE(replies.expect({id}, [&](std::string) { ++answered; }));
  EXPECT_FALSE(replies.expect({900000}, [](std::string) {}));
  EXPECT_FALSE(replies.take(900000, std::nullopt));
  EXPECT_TRUE(replies.take(1, std::nullopt));
  EXPECT_FALSE(replies.take(1, std::nullopt));
  EXPECT_EQ(answered, 1);

  CallbackReplies fresh;
  EXPECT_FALSE(fresh.expect({7, 7}, [](std::string) {}));  // the same id twice
  EXPECT_FALSE(fresh.expect({0}, [](std::string) {}));
  EXPECT_FALSE(fresh.expect({}, [](std::string) {}));
  EXPECT_FALSE(fresh.expect({1, 2, 3}, [](std::string) {}));
  EXPECT_EQ(fresh.waiting(), 0u);
}

}  // namespace
}  // namespace tavero::bridge
