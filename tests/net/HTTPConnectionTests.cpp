#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "net/HttpServerHarness.h"
#include "support/LoopbackClient.h"

namespace tavero::net {
namespace {

using testing::getRequest;
using testing::LoopbackClient;

TEST(HTTPConnection, PipelinedRequestsInOneChunkAreAnsweredInOrder) {
  RecordingDelegate delegate;
  HttpServerHarness server(&delegate);
  LoopbackClient client(server.port());
  client.send(getRequest("/first", server.port()) + getRequest("/second", server.port()));
  auto first = client.readAnswer();
  auto second = client.readAnswer();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->body, "/first");
  EXPECT_EQ(second->body, "/second");
}

TEST(HTTPConnection, ALateAnswerHoldsBackTheAnswersBehindIt) {
  RecordingDelegate delegate;
  delegate.answerLater = true;
  HttpServerHarness server(&delegate);
  LoopbackClient client(server.port(), std::chrono::milliseconds(300));
  client.send(getRequest("/a", server.port()) + getRequest("/b", server.port()));
  auto requests = delegate.waitForRequests(2);
  ASSERT_EQ(requests.size(), 2u);

  // The second is answered first, from another thread: nothing may go out yet.
  requests[1]->setResponse(makeHTTPResponse(HTTPStatus::ok, "second"));
  EXPECT_FALSE(client.readAnswer());
  std::thread([&] { requests[0]->setResponse(makeHTTPResponse(HTTPStatus::ok, "first")); }).join();

  auto first = client.readAnswer();
  auto second = client.readAnswer();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->body, "first");
  EXPECT_EQ(second->body, "second");
}

TEST(HTTPConnection, BodySplitOverChunksIsHandedOverWhenCompleteAndExtraBytesStartTheNextRequest) {
  RecordingDelegate delegate;
  HttpServerHarness server(&delegate);
  LoopbackClient client(server.port());
  const std::string head = "POST /p HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nab";
  client.send(head);
  ASSERT_TRUE(server.waitForBytesReceived(head.size()));
  EXPECT_EQ(delegate.count(), 0u);  // the body is incomplete: no request yet
  client.send("cde" + getRequest("/next", server.port()));
  auto requests = delegate.waitForRequests(2);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0]->request().body(), "abcde");
  EXPECT_EQ(requests[1]->request().target(), "/next");
}

TEST(HTTPConnection, WithoutContentLengthTheBodyIsEmptyAndFollowingBytesAreTheNextRequest) {
  RecordingDelegate delegate;
  HttpServerHarness server(&delegate);
  LoopbackClient client(server.port());
  client.send("GET /one HTTP/1.1\r\nHost: x\r\n\r\nGET /two HTTP/1.1\r\nHost: x\r\n\r\n");
  auto requests = delegate.waitForRequests(2);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0]->request().body(), "");
  EXPECT_EQ(requests[1]->request().target(), "/two");
}

TEST(HTTPConnection, AfterThePeerEndsItsInputDueAnswersAreStillWrittenThenTheConnectionEnds) {
  RecordingDelegate delegate;
  delegate.answerLater = true;
  HttpServerHarness server(&delegate);
  LoopbackClient client(server.port());
  client.send(getRequest("/late", server.port()));
  client.shutdownSend();
  auto requests = delegate.waitForRequests(1);
  ASSERT_EQ(requests.size(), 1u);
  requests[0]->setResponse(makeHTTPResponse(HTTPStatus::ok, "still here"));
  auto answer = client.readAnswer();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->body, "still here");
  EXPECT_TRUE(client.waitForClose());
}

TEST(HTTPConnection, APeerThatEndsWithNothingPendingIsClosed) {
  RecordingDelegate delegate;
  HttpServerHarness server(&delegate);
  LoopbackClient client(server.port());
  client.send("GET /partial HTTP/1.1\r\nHo");
  client.shutdownSend();
  EXPECT_TRUE(client.waitForClose());
  EXPECT_EQ(delegate.count(), 0u);
}

TEST(HTTPConnection, ConnectionCloseAndHttp10CloseAfterTheirAnswer) {
  RecordingDelegate delegate;
  HttpServerHarness server(&delegate);
  {
    LoopbackClient client(server.port());
    client.send(getRequest("/bye", server.port(), "Connection: close\r\n") + getRequest("/ignored", server.port()));
    auto answer = client.readAnswer();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body, "/bye");
    EXPECT_TRUE(client.waitForClose());
  }
  {
    LoopbackClient client(server.port());
    client.send("GET /old HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(client.readAnswer());
    EXPECT_TRUE(client.waitForClose());
  }
  EXPECT_EQ(delegate.count(), 2u);
}

struct MalformedCase {
  const char* name;
  std::string bytes;
  int status;
};

TEST(HTTPConnection, MalformedRequestsGetAnErrorWithALengthAndTheConnectionCloses) {
  RecordingDelegate delegate;
  HTTPLimits limits;
  HttpServerHarness server(&delegate, limits);
  const MalformedCase cases[] = {
      {"negative Content-Length", "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: -5\r\n\r\n", 400},
      {"non-numeric Content-Length", "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 5x\r\n\r\n", 400},
      {"header of 1 MiB", "GET / HTTP/1.1\r\nX-Big: " + std::string(1 << 20, 'a') + "\r\n\r\n", 431},
      {"body over 1 MiB", "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 1048577\r\n\r\nabc", 413},
      {"no version", "GET /\r\n\r\n", 505},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackClient client(server.port());
    client.send(c.bytes);
    auto answer = client.readAnswer();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, c.status);
    EXPECT_EQ(answer->header("content-length"), "0");
    EXPECT_TRUE(client.waitForClose());
  }
  EXPECT_EQ(delegate.count(), 0u);
}

TEST(HTTPConnection, AnErrorAnswerWaitsBehindEarlierRequests) {
  RecordingDelegate delegate;
  HttpServerHarness server(&delegate);
  LoopbackClient client(server.port());
  client.send(getRequest("/fine", server.port()) + "GET / HTTP/1.1\r\nContent-Length: -1\r\n\r\n");
  auto fine = client.readAnswer();
  auto bad = client.readAnswer();
  ASSERT_TRUE(fine && bad);
  EXPECT_EQ(fine->body, "/fine");
  EXPECT_EQ(bad->status, 400);
}

TEST(HTTPConnection, ConnectionsBeyondTheLimitAreClosedAtOnce) {
  RecordingDelegate delegate;
  HTTPLimits limits;
  limits.maxConnections = 2;
  HttpServerHarness server(&delegate, limits);
  LoopbackClient a(server.port()), b(server.port());
  a.send(getRequest("/a", server.port()));
  b.send(getRequest("/b", server.port()));
  ASSERT_TRUE(a.readAnswer() && b.readAnswer());
  LoopbackClient c(server.port());
  EXPECT_TRUE(c.waitForClose());
  EXPECT_EQ(server.openConnections(), 2u);
}

TEST(HTTPConnection, ManyPipelinedRequestsAreAllAnsweredDespiteTheQueueBound) {
  RecordingDelegate delegate;
  HTTPLimits limits;
  limits.maxPipelinedRequests = 4;
  HttpServerHarness server(&delegate, limits);
  LoopbackClient client(server.port());
  std::string burst;
  for (int i = 0; i < 50; ++i) burst += getRequest("/r" + std::to_string(i), server.port());
  client.send(burst);
  for (int i = 0; i < 50; ++i) {
    auto answer = client.readAnswer();
    ASSERT_TRUE(answer) << i;
    EXPECT_EQ(answer->body, "/r" + std::to_string(i));
  }
}

// Deadlines run on a clock the test moves: idle 150 ms, a request 300 ms.
class HTTPConnectionDeadlines : public ::testing::Test {
 protected:
  static constexpr std::chrono::milliseconds kIdle{150}, kRequest{300};
  static HTTPLimits limits() {
    HTTPLimits limits;
    limits.idleTimeout = kIdle;
    limits.requestTimeout = kRequest;
    return limits;
  }
  void advance(int ms) { server_.advance(std::chrono::milliseconds(ms)); }

  RecordingDelegate delegate_;
  HttpServerHarness server_{&delegate_, limits(), std::make_shared<ManualTimerSource>()};
};

TEST_F(HTTPConnectionDeadlines, AConnectionThatSendsNothingIsClosedWhenIdleTimeHasPassed) {
  LoopbackClient idle(server_.port());
  ASSERT_TRUE(delegate_.waitForConnections(1));
  advance(149);
  EXPECT_EQ(server_.openConnections(), 1u);
  advance(1);
  EXPECT_EQ(server_.openConnections(), 0u);
  EXPECT_TRUE(idle.waitForClose());
}

TEST_F(HTTPConnectionDeadlines, ARequestMustArriveWholeWithinItsTimeFromItsFirstByte) {
  // A header that never ends.
  LoopbackClient slow(server_.port());
  const std::string start = "GET /slow HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  slow.send(start);
  ASSERT_TRUE(server_.waitForBytesReceived(start.size()));
  EXPECT_TRUE(server_.timers().hasPending(kRequest));
  advance(299);
  EXPECT_EQ(server_.openConnections(), 1u);
  advance(1);
  EXPECT_EQ(server_.openConnections(), 0u);
  EXPECT_TRUE(slow.waitForClose());

  // A trickle of bytes, one every 50 ms, does not move the deadline.
  LoopbackClient trickle(server_.port());
  const std::string request = getRequest("/trickle", server_.port());
  size_t received = start.size();
  for (size_t i = 0; i < 6; ++i) {
    trickle.send(request.substr(i, 1));
    ASSERT_TRUE(server_.waitForBytesReceived(received += 1)) << "byte " << i;
    EXPECT_EQ(server_.openConnections(), 1u) << "closed early, after " << i * 50 << " ms";
    advance(50);
  }
  EXPECT_EQ(server_.openConnections(), 0u);
  EXPECT_TRUE(trickle.waitForClose());
  EXPECT_EQ(delegate_.count(), 0u);
}

TEST_F(HTTPConnectionDeadlines, AConnectionAwaitingOurAnswerIsNeverTimedOutAndIdlesAfterIt) {
  delegate_.answerLater = true;
  LoopbackClient waiting(server_.port());
  waiting.send(getRequest("/late", server_.port()));
  auto requests = delegate_.waitForRequests(1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(server_.timers().pendingDelays().empty());
  advance(10 * kRequest.count());  // well past both deadlines
  EXPECT_EQ(server_.openConnections(), 1u);
  requests[0]->setResponse(makeHTTPResponse(HTTPStatus::ok, "late"));
  auto answer = waiting.readAnswer();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->body, "late");
  // Answered, it is idle again: the idle deadline runs from now.
  ASSERT_TRUE(server_.waitOnServer([&](HTTPServer&) { return server_.timers().hasPending(kIdle); }));
  advance(149);
  EXPECT_EQ(server_.openConnections(), 1u);
  advance(1);
  EXPECT_EQ(server_.openConnections(), 0u);
}

TEST(HTTPConnection, BodiesBeyondTheSharedBudgetGet503) {
  RecordingDelegate delegate;
  delegate.answerLater = true;
  HTTPLimits limits;
  limits.maxBodyBytes = 1000;
  limits.maxBufferedBodyBytes = 1500;
  HttpServerHarness server(&delegate, limits);
  auto post = [&](size_t length) {
    return "POST /b HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
  };
  LoopbackClient first(server.port()), second(server.port());
  first.send(post(1000));  // announced, not sent yet: its bytes are reserved
  ASSERT_TRUE(server.waitOnServer([](HTTPServer& s) { return s.bufferedBodyBytes() == 1000; }));
  second.send(post(600));
  auto refused = second.readAnswer();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 503);
  first.send(std::string(1000, 'x'));
  ASSERT_EQ(delegate.waitForRequests(1).size(), 1u);
}

// A chunked body announces no length: it counts against the shared budget
// as the largest body allowed, and its size is checked as it arrives.
TEST(HTTPConnection, ChunkedBodiesAreHeldToTheBodyLimitAndTheSharedBudget) {
  RecordingDelegate delegate;
  delegate.answerLater = true;
  HTTPLimits limits;
  limits.maxBodyBytes = 1000;
  limits.maxBufferedBodyBytes = 1500;
  HttpServerHarness server(&delegate, limits);
  const std::string chunkedHead = "POST /c HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n";
  auto chunk = [](const std::string& bytes) {
    char size[16];
    std::snprintf(size, sizeof size, "%zx", bytes.size());
    return std::string(size) + "\r\n" + bytes + "\r\n";
  };
  auto budget = [&] { return server.worker().performAndWait([&] { return server.server().bufferedBodyBytes(); }); };

  // Within the limit: the body arrives whole, in its chunks.
  {
    LoopbackClient client(server.port());
    client.send(chunkedHead + chunk(std::string(400, 'a')) + chunk(std::string(500, 'b')));
    ASSERT_TRUE(server.waitOnServer([](HTTPServer& s) { return s.bufferedBodyBytes() == 1000; }));
    client.send(chunk("c") + "0\r\n\r\n");
    auto requests = delegate.waitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]->request().body(), std::string(400, 'a') + std::string(500, 'b') + "c");
    requests[0]->setResponse(makeHTTPResponse(HTTPStatus::ok, "taken"));
    auto answer = client.readAnswer();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
  }
  ASSERT_TRUE(server.waitOnServer([](HTTPServer& s) { return s.bufferedBodyBytes() == 0; }));

  // Beyond the body limit, however it is cut into chunks.
  {
    LoopbackClient client(server.port());
    client.send(chunkedHead + chunk(std::string(600, 'a')) + chunk(std::string(401, 'b')) + "0\r\n\r\n");
    auto answer = client.readAnswer();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 413);
    EXPECT_TRUE(client.waitForClose());
  }
  EXPECT_EQ(budget(), 0u);

  // A chunked body that does not fit beside a body being received.
  {
    LoopbackClient first(server.port()), second(server.port());
    first.send("POST /b HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 600\r\n\r\n");
    ASSERT_TRUE(server.waitOnServer([](HTTPServer& s) { return s.bufferedBodyBytes() == 600; }));
    second.send(chunkedHead + chunk("small"));
    auto refused = second.readAnswer();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 503);
    EXPECT_TRUE(second.waitForClose());
    EXPECT_EQ(budget(), 600u);
  }
  // Both connections closed: their reservations went with them.
  ASSERT_TRUE(server.waitOnServer([](HTTPServer& s) { return s.bufferedBodyBytes() == 0; }));
  EXPECT_EQ(delegate.count(), 1u);
}

}  // namespace
}  // namespace tavero::net
