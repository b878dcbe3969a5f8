// Bytes calls on the page channel: one call with raw bytes beside it,
// answered at once with the operation's value and bytes. What they are
// refused for, and that they keep their place among the view's messages.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

#include "bridge/QLTaveroBridge.h"

namespace tavero::bridge {
namespace {

// "reverse" answers its bytes backwards with their count; "fail" throws;
// "hold" (a plain sync operation) waits until released; "plain" is no
// bytes operation.
class TQBytes : public TQW3CAction {
 public:
  static constexpr std::string_view className = "TQBytes";
  explicit TQBytes(std::atomic<bool>& released, std::atomic<int>& order) {
    addBytesOperation("reverse", [&order](Invocation& call, std::string_view bytes) {
      json::Object value;
      value.append("count", static_cast<int64_t>(bytes.size()));
      value.append("seen", static_cast<int64_t>(order++));
      value.append("tag", std::string(call.text("tag")));
      return BytesAnswer{json::Value(std::move(value)), std::string(bytes.rbegin(), bytes.rend())};
    });
    addBytesOperation("fail", [](Invocation&, std::string_view) -> BytesAnswer { throw std::runtime_error("broken"); });
    addOperation("hold", [&released, &order](Invocation& call) {
      for (int i = 0; i < 500 && !released; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      call.setResult(json::Value(static_cast<int64_t>(order++)));
    });
    addOperation("plain", [](Invocation&) {});
  }
};

class BytesCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    modules_.add("TQBytes", [this] { return std::make_unique<TQBytes>(released_, order_); });
    bridge_ = std::make_unique<QLTaveroBridge>(
        modules_, QLTaveroBridge::Options{.port = 0, .policy = BridgeAccessPolicy(BridgeAccessPolicy::Clients::appPages, token_)});
  }
  void TearDown() override { released_ = true; }

  struct Answer {
    std::string header;  // "rejected: ..." for a rejection
    std::string bytes;
  };
  std::future<Answer> post(const std::string& header, std::string bytes, const std::string& view = "index.html") {
    auto done = std::make_shared<std::promise<Answer>>();
    bridge_->pageChannel()->receiveBytes(view, header, std::move(bytes),
                                         [done](std::optional<std::string> answer, std::string bytes, std::string why) {
                                           done->set_value(answer ? Answer{*answer, bytes} : Answer{"rejected: " + why, {}});
                                         });
    return done->get_future();
  }
  Answer send(const std::string& header, std::string bytes = {}) {
    auto answer = post(header, std::move(bytes));
    EXPECT_EQ(answer.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    return answer.get();
  }
  std::string call(const std::string& command, const std::string& args = "{}") {
    return "{\"token\": \"" + token_ + "\", \"calls\": [{\"command\": \"" + command + "\", \"args\": " + args + "}]}";
  }

  std::string token_ = "0123456789abcdef0123456789abcdef";
  std::atomic<bool> released_{false};
  std::atomic<int> order_{0};
  ModuleRegistry modules_;
  std::unique_ptr<QLTaveroBridge> bridge_;
};

TEST_F(BytesCalls, AnyBytesGoInAndComeBackBesideTheAnswerAsTheyAre) {
  const std::string bytes("\xff\xfe\0not UTF-8\x80", 14);
  Answer answer = send(call("Bytes#reverse", R"({"tag": "t\"1"})"), bytes);
  EXPECT_EQ(answer.header, R"({"status" : 200, "answer" : { "count" : 14, "seen" : 0, "tag" : "t\"1"}})");
  EXPECT_EQ(answer.bytes, std::string(bytes.rbegin(), bytes.rend()));
  EXPECT_EQ(send(call("Bytes#reverse")).bytes, "");  // no bytes at all

  // Larger than a piece run on the calling thread: it runs on the queue, the same way.
  const std::string large(PageMessageChannel::kMaxInlineBytes + 1, 'x');
  answer = send(call("Bytes#reverse"), large);
  EXPECT_NE(answer.header.find("\"count\" : " + std::to_string(large.size())), std::string::npos) << answer.header;
  EXPECT_EQ(answer.bytes.size(), large.size());
}

TEST_F(BytesCalls, CallsWithoutTheTokenOrThatAreNotOneCallOrNoBytesOperationAreRefused) {
  Answer noToken = send(R"({"token": "wrong", "calls": [{"command": "Bytes#reverse", "args": {}}]})", "x");
  EXPECT_EQ(noToken.header.rfind("rejected: refused", 0), 0u) << noToken.header;
  const std::string twoCalls = "{\"token\": \"" + token_ +
                               R"(", "calls": [{"command": "Bytes#reverse"}, {"command": "Bytes#reverse"}]})";
  for (const std::string& header : {twoCalls, "{\"token\": \"" + token_ + "\", \"calls\": []}",
                                    "{\"token\": \"" + token_ + "\", \"calls\": [{\"args\": {}}]}",
                                    "{\"token\": \"" + token_ + "\", \"calls\": [{\"command\": \"Bytes#reverse\", \"args\": {\"n\": 1}}]}",
                                    "{\"token\": \"" + token_ + "\", \"calls\": [{\"command\": \"Bytes#rev"}) {
    Answer answer = send(header, "x");
    EXPECT_NE(answer.header.find("\"status\" : 400"), std::string::npos) << header << " -> " << answer.header;
    EXPECT_TRUE(answer.bytes.empty());
  }
  EXPECT_EQ(send(call("Bytes#plain"), "x").header, "{\"status\" : 404}");  // an operation, but not a bytes one
  EXPECT_EQ(send(call("Nothing#reverse"), "x").header, "{\"status\" : 404}");
  EXPECT_EQ(send(call("Bytes"), "x").header, "{\"status\" : 400}");
  EXPECT_EQ(send(call("Bytes#fail"), "x").header, "{\"status\" : 500}");
  EXPECT_EQ(order_.load(), 0);  // none of them ran
}

TEST_F(BytesCalls, ABytesCallWaitsForTheViewsMessagesBeforeItButNotForOtherViews) {
  std::promise<std::string> held;
  bridge_->pageChannel()->receive(
      "index.html", "{\"token\": \"" + token_ + R"(", "calls": [{"command": "Bytes#hold", "sync": true}]})",
      [&held](std::optional<std::string> answer, std::string) { held.set_value(answer.value_or("rejected")); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the held call is under way
  auto sameView = post(call("Bytes#reverse"), "a");
  auto otherView = post(call("Bytes#reverse"), "b", "other.html");
  ASSERT_EQ(otherView.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_NE(otherView.get().header.find("\"seen\" : 0"), std::string::npos);
  EXPECT_EQ(sameView.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  released_ = true;
  ASSERT_EQ(sameView.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_NE(sameView.get().header.find("\"seen\" : 2"), std::string::npos);  // after the held call's 1
  EXPECT_EQ(held.get_future().get(), "[{\"status\" : 200, \"result\" : 1}]");
}

}  // namespace
}  // namespace tavero::bridge
