#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "bridge/QLTaveroBridge.h"
#include "support/LoopbackClient.h"

namespace tavero::bridge {
namespace {

using testing::getRequest;
using testing::LoopbackClient;

// Records every call, from whichever thread it runs on; queued calls may
// be held at a gate until the test opens it.
class TQProbe : public TQW3CAction {
 public:
  static constexpr std::string_view className = "TQProbe";
  static std::atomic<int> instancesCreated;

  TQProbe() {
    ++instancesCreated;
    addOperation("answer", [](Invocation& call) {
      json::Object result;
      result.append("id", 5);
      call.setResult(std::move(result));
    });
    addOperation("accent", [](Invocation& call) { call.setResult("\xC3\xA9"); });
    addOperation("echoText", [](Invocation& call) { call.setResult(std::string(call.text("t"))); });
    addOperation("fail", [](Invocation&) { throw std::runtime_error("boom"); });
    addOperation("record", [this](Invocation& call) {
      bool onWorker = workerThread == std::this_thread::get_id();
      {
        std::unique_lock lock(mutex);
        gate.wait_for(lock, std::chrono::seconds(5), [&] { return gateOpen; });
        seen.push_back(std::string(call.text("n")));
        ranOnWorker.push_back(onWorker);
      }
      call.setResult("ignored for queued calls");
      changed.notify_all();
    });
  }

  std::vector<std::string> waitForRecords(size_t n) {
    std::unique_lock lock(mutex);
    changed.wait_for(lock, std::chrono::seconds(5), [&] { return seen.size() >= n; });
    return seen;
  }
  void setGate(bool open) {
    {
      std::lock_guard lock(mutex);
      gateOpen = open;
    }
    gate.notify_all();
  }

  std::thread::id workerThread;
  std::mutex mutex;
  std::condition_variable gate, changed;
  bool gateOpen = true;
  std::vector<std::string> seen;
  std::vector<bool> ranOnWorker;
};
std::atomic<int> TQProbe::instancesCreated{0};

class BridgeDispatch : public ::testing::Test {
 protected:
  BridgeDispatch() {
    TQProbe::instancesCreated = 0;
    modules_.add("TQProbe", [] { return std::make_unique<TQProbe>(); });
    modules_.add("TQQuiet", [] { return std::make_unique<TQProbe>(); });
    bridge_ = std::make_unique<QLTaveroBridge>(modules_, 0);
    port_ = bridge_->port();
    bridge_->worker().performAndWait([this] { probe().workerThread = std::this_thread::get_id(); });
  }

  TQProbe& probe() { return modules_.sharedInstance<TQProbe>(); }

  testing::HttpAnswer get(std::string_view target, std::string_view headers = {}) {
    LoopbackClient client(port_);
    client.send(getRequest(target, port_, headers));
    auto answer = client.readAnswer();
    return answer ? *answer : testing::HttpAnswer{};
  }

  ModuleRegistry modules_;
  std::unique_ptr<QLTaveroBridge> bridge_;
  uint16_t port_ = 0;
};

TEST_F(BridgeDispatch, SyncCallAnswersWithTheResultAsJsonAndTheBridgeHeaders) {
  auto answer = get("/anything?command=TQProbe%23answer&sync=true");
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.body, "{\n\t \"id\" : 5}");
  EXPECT_EQ(answer.header("content-length"), "13");
  EXPECT_EQ(answer.header("access-control-allow-origin"), "*");
  EXPECT_EQ(answer.headers.size(), 2u);  // no content type, no connection header
}

TEST_F(BridgeDispatch, TheTQPrefixIsOptionalAndBothNamesReachOneInstance) {
  EXPECT_EQ(get("/?command=Probe%23answer&sync=1").body, "{\n\t \"id\" : 5}");
  EXPECT_EQ(get("/?command=TQProbe%23answer&sync=YES").body, "{\n\t \"id\" : 5}");
  EXPECT_EQ(TQProbe::instancesCreated, 1);
}

TEST_F(BridgeDispatch, ContentLengthCountsUtf8Bytes) {
  auto answer = get("/?command=Probe%23accent&sync=true");
  EXPECT_EQ(answer.body, "\"\xC3\xA9\"");
  EXPECT_EQ(answer.header("content-length"), "4");
}

TEST_F(BridgeDispatch, QueuedAndSyncCallsRunOffTheWorkerThreadAndQueuedOnesAnswerEmptyAtOnce) {
  for (const char* sync : {"", "&sync=false", "&sync=0", "&sync=no"}) {
    auto answer = get(std::string("/?command=Probe%23record&n=q") + sync);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "");
    EXPECT_EQ(answer.header("content-length"), "0");
    EXPECT_EQ(answer.header("access-control-allow-origin"), "*");
  }
  ASSERT_EQ(probe().waitForRecords(4).size(), 4u);
  get("/?command=Probe%23record&n=s&sync=TRUE");
  ASSERT_EQ(probe().waitForRecords(5).size(), 5u);
  std::lock_guard lock(probe().mutex);
  EXPECT_EQ(probe().ranOnWorker, (std::vector<bool>{false, false, false, false, false}));
}

TEST_F(BridgeDispatch, ASyncCallThatWaitsHoldsUpItsOwnConnectionOnly) {
  probe().setGate(false);
  LoopbackClient waiting(port_);
  waiting.send(getRequest("/?command=Probe%23record&n=held&sync=true", port_) +
               getRequest("/?command=Probe%23echoText&sync=true&t=after", port_));
  // Another client is served while the first one's call waits.
  EXPECT_EQ(get("/?command=Probe%23echoText&sync=true&t=other").body, "\"other\"");
  probe().setGate(true);
  auto first = waiting.readAnswer();
  auto second = waiting.readAnswer();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->body, "\"ignored for queued calls\"");
  EXPECT_EQ(second->body, "\"after\"");  // in order, after the one it waited for
}

TEST_F(BridgeDispatch, AFormBodyCarriesArgumentsTooLongForARequestLine) {
  std::string text(4 * 1024 * 1024, 'x');
  std::string body = "command=Probe%23echoText&sync=true&t=" + text;
  LoopbackClient client(port_, std::chrono::seconds(20));
  client.send("POST / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
              "\r\nX-Tavero-Client: tests\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
              std::to_string(body.size()) + "\r\n\r\n" + body);
  auto answer = client.readAnswer();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 200);
  EXPECT_EQ(answer->body, "\"" + text + "\"");
  // The same in a request line is refused: header fields stay bounded.
  EXPECT_EQ(get("/?command=Probe%23echoText&sync=true&t=" + std::string(70 * 1024, 'y')).status, 431);
}

TEST_F(BridgeDispatch, AQueuedCallKeepsItsOwnArgumentsWhenAnotherArrivesFirst) {
  probe().setGate(false);
  get("/?command=Probe%23record&n=first");
  get("/?command=Probe%23record&n=second");
  EXPECT_EQ(probe().arguments()->find("n")->asString(), "second");
  probe().setGate(true);
  auto seen = probe().waitForRecords(2);
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{"first", "second"}));
}

TEST_F(BridgeDispatch, BlockingQueuedCallsDoNotHoldUpEachOtherOrSyncCalls) {
  probe().setGate(false);
  for (int i = 0; i < 3; ++i) get("/?command=Probe%23record&n=" + std::to_string(i));
  // The three wait at the gate; a sync call and the answers above still went through.
  EXPECT_EQ(get("/?command=Probe%23answer&sync=true").status, 200);
  probe().setGate(true);
  EXPECT_EQ(probe().waitForRecords(3).size(), 3u);
}

TEST_F(BridgeDispatch, CommandsThatCannotRunAreAnsweredNotLeftHanging) {
  EXPECT_EQ(get("/no-query").status, 400);
  EXPECT_EQ(get("/?sync=true").status, 400);
  EXPECT_EQ(get("/?command=Probe").status, 400);
  EXPECT_EQ(get("/?command=Nothing%23answer").status, 404);
  EXPECT_EQ(get("/?command=Probe%23answer&v=%ZZ").status, 400);
  auto unknown = get("/?command=Probe%23missing");
  EXPECT_EQ(unknown.status, 404);
  EXPECT_EQ(unknown.header("access-control-allow-origin"), "*");
  EXPECT_EQ(unknown.header("content-length"), "0");
}

TEST_F(BridgeDispatch, OperationsReadThePagesTextAlsoWhenItLooksLikeJson) {
  EXPECT_EQ(get("/?command=Probe%23echoText&sync=true&t=%5B1,2%5D").body, "\"[1,2]\"");
  EXPECT_EQ(get("/?command=Probe%23echoText&sync=true&t=%5Bnotes").body, "\"[notes\"");
  EXPECT_EQ(get("/?command=Probe%23echoText&sync=%5B1%5D&t=x").body, "");  // "[1]" is no true flag: queued
  EXPECT_EQ(get("/?command=%5BProbe%23echoText&sync=true&t=x").status, 404);  // no module "TQ[Probe"
}

TEST_F(BridgeDispatch, AnUnknownOperationStillCreatesTheModule) {
  int before = TQProbe::instancesCreated;
  EXPECT_EQ(get("/?command=Quiet%23nothing").status, 404);
  EXPECT_EQ(TQProbe::instancesCreated, before + 1);
}

TEST_F(BridgeDispatch, AnOperationThatThrowsGets500AndTheBridgeGoesOn) {
  EXPECT_EQ(get("/?command=Probe%23fail&sync=true").status, 500);
  EXPECT_EQ(get("/?command=Probe%23answer&sync=true").status, 200);
}

TEST_F(BridgeDispatch, OtherMethodsGet405InOrderOnTheSameConnection) {
  LoopbackClient client(port_);
  std::string host = "Host: 127.0.0.1:" + std::to_string(port_) + "\r\n";
  client.send("POST /?command=Probe%23answer&sync=true HTTP/1.1\r\n" + host + "Content-Length: 3\r\n\r\nabc" +
              "HEAD /?command=Probe%23answer&sync=true HTTP/1.1\r\n" + host + "\r\n" +
              "get /?command=Probe%23answer&sync=true HTTP/1.1\r\n" + host + "\r\n" +
              getRequest("/?command=Probe%23echoText&sync=true&t=last", port_));
  for (int i = 0; i < 3; ++i) {
    auto refused = client.readAnswer(/*toHead=*/i == 1);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 405);
    EXPECT_EQ(refused->header("content-length"), "0");
  }
  auto last = client.readAnswer();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->body, "\"last\"");
}

TEST_F(BridgeDispatch, LocalToolsMustSayWhoTheyAreAndNoBrowserPageIsServed) {
  auto raw = [&](const std::string& headers) {
    LoopbackClient client(port_);
    client.send("GET /?command=Probe%23answer&sync=true HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                "\r\n" + headers + "\r\n");
    auto answer = client.readAnswer();
    return answer ? answer->status : 0;
  };
  EXPECT_EQ(raw("X-Tavero-Client: curl\r\n"), 200);
  EXPECT_EQ(raw(""), 403);  // an <img>, a form or a link from any web page
  // Browsers send these; a page cannot send X-Tavero-Client to another origin without a preflight.
  EXPECT_EQ(raw("X-Tavero-Client: x\r\nOrigin: null\r\n"), 403);
  EXPECT_EQ(raw("X-Tavero-Client: x\r\nSec-Fetch-Mode: no-cors\r\n"), 403);
  LoopbackClient preflight(port_);
  preflight.send("OPTIONS /?command=Probe%23answer HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                 "\r\nOrigin: null\r\nAccess-Control-Request-Headers: x-tavero-client\r\n\r\n");
  auto refused = preflight.readAnswer();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 405);
  EXPECT_FALSE(refused->has("access-control-allow-headers"));
}

TEST_F(BridgeDispatch, WebSiteOriginsAndForeignHostNamesAreRefused) {
  const std::string port = std::to_string(port_);
  EXPECT_EQ(get("/?command=Probe%23answer&sync=true", "Origin: https://evil.example\r\n").status, 403);
  EXPECT_EQ(get("/?command=Probe%23answer&sync=true", "Origin: http://localhost:8080\r\n").status, 403);

  LoopbackClient client(port_);
  auto ask = [&](const std::string& host) {
    client.send("GET /?command=Probe%23answer&sync=true HTTP/1.1\r\nHost: " + host +
                "\r\nX-Tavero-Client: tests\r\n\r\n");
    auto answer = client.readAnswer();
    return answer ? answer->status : 0;
  };
  EXPECT_EQ(ask("localhost:" + port), 200);
  EXPECT_EQ(ask("LOCALHOST:" + port), 200);
  EXPECT_EQ(ask("[::1]:" + port), 200);
  EXPECT_EQ(ask("rebound.example:" + port), 403);
  EXPECT_EQ(ask("localhost"), 403);
  EXPECT_EQ(ask("localhost:1"), 403);
}

TEST_F(BridgeDispatch, StopAndStartServerCloseAndReopenTheListener) {
  bridge_->stopServer();
  EXPECT_FALSE(LoopbackClient(port_).connected());
  ASSERT_FALSE(bridge_->startServer());
  ASSERT_FALSE(bridge_->startServer());  // harmless while listening
  EXPECT_EQ(get("/?command=Probe%23answer&sync=true").status, 200);
}

}  // namespace
}  // namespace tavero::bridge
