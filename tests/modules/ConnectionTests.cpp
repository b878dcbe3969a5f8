// The connection module and its network monitor on a hand-driven network:
// flag words to reports, pages and the one callback id, reports made on the
// main thread with the status of that moment, and the module's end.
#include <gtest/gtest.h>

#include "host/CallbackScript.h"
#include "modules/SensorFakes.h"
#include "modules/TQConnection.h"
#include "support/QueueMainThread.h"

namespace tavero::modules {
namespace {

using namespace testing;
namespace flags = platform::reachability;

std::string reportText(uint32_t word) {
  return text(json::Value(TQConnection::reportFor(Reachability::networkStatusForFlags(word))));
}

TEST(ConnectionReport, FollowsTheFlagRules) {
  const std::string wifi = "[{ \"type\" : \"WIFI\", \"online\" : \"1\"}]";
  const std::string cell = "[{ \"type\" : \"CELL_3G\", \"online\" : \"1\"}]";
  const std::string none = "[{ \"type\" : \"NONE\", \"online\" : \"0\"}]";
  EXPECT_EQ(reportText(flags::kReachable), wifi);
  EXPECT_EQ(reportText(flags::kReachable | flags::kIsWWAN), cell);
  EXPECT_EQ(reportText(flags::kReachable | flags::kIsWWAN | flags::kConnectionRequired), cell);
  EXPECT_EQ(reportText(0), none);
  EXPECT_EQ(reportText(flags::kIsWWAN), none);  // WWAN alone is not reachable
  EXPECT_EQ(reportText(flags::kReachable | flags::kConnectionRequired), none);
  EXPECT_EQ(reportText(flags::kReachable | flags::kConnectionRequired | flags::kConnectionOnTraffic), wifi);
  EXPECT_EQ(reportText(flags::kReachable | flags::kConnectionRequired | flags::kConnectionOnDemand), wifi);
  EXPECT_EQ(reportText(flags::kReachable | flags::kConnectionRequired | flags::kConnectionOnDemand |
                       flags::kInterventionRequired),
            none);
  // In the callback script the online value is a quoted string.
  std::string script = host::callbackScript(5, json::Value(TQConnection::reportFor(NetworkStatus::ReachableViaWiFi)));
  EXPECT_NE(script.find("\"online\" : \"1\""), std::string::npos) << script;
}

class ConnectionTest : public ::testing::Test {
 protected:
  RecordingDelivery delivery;
  FakeNetwork network;
  tavero::testing::QueueMainThread mainThread;
  std::unique_ptr<TQConnection> connection = std::make_unique<TQConnection>(delivery, network, mainThread);

  void watch(std::initializer_list<std::pair<const char*, const char*>> keys) {
    auto invocation = call(keys);
    connection->watch(invocation);
  }
};

TEST_F(ConnectionTest, AWatchWithoutAPageReportsToTheStartPageOnTheMainThread) {
  watch({{"callback", "5"}});
  EXPECT_EQ(delivery.count(), 0u);  // handed to the main thread, not sent from here
  mainThread.runPending();
  auto reports = delivery.take();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].id, 5);
  EXPECT_EQ(reports[0].page, "");
  EXPECT_EQ(text(reports[0].value), "[{ \"type\" : \"WIFI\", \"online\" : \"1\"}]");
}

TEST_F(ConnectionTest, PagesShareTheLatestCallbackIdForTheFirstReportAndEveryChange) {
  watch({{"callback", "5"}, {"__source", "file:///app/webapp/a.html"}});
  mainThread.runPending();
  delivery.take();
  watch({{"callback", "7"}, {"__source", "file:///app/webapp/b.html?x=1"}});
  mainThread.runPending();
  auto reports = delivery.take();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].page, "a.html");
  EXPECT_EQ(reports[1].page, "b.html");
  EXPECT_EQ(reports[0].id, 7);
  EXPECT_EQ(reports[1].id, 7);
  EXPECT_EQ(network.notifiersStarted, 1);  // one monitor serves every watch

  network.change(flags::kReachable | flags::kIsWWAN);
  mainThread.runPending();
  reports = delivery.take();
  ASSERT_EQ(reports.size(), 2u);
  for (const auto& report : reports) {
    EXPECT_EQ(report.id, 7);
    EXPECT_EQ(report.value.asObject().find("type")->asString(), "CELL_3G");
  }
}

TEST_F(ConnectionTest, APagesWatchEndsWithItsDocumentAndTheNextDocumentIsToldOnce) {
  watch({{"callback", "5"}, {"__source", "file:///app/webapp/a.html"}});
  watch({{"callback", "5"}, {"__source", "file:///app/webapp/b.html"}});
  mainThread.runPending();
  delivery.take();

  connection->pageDocumentEnded("a.html");
  network.change(0);
  mainThread.runPending();
  auto reports = delivery.take();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].page, "b.html");

  connection->pageDocumentEnded("b.html");  // the last watching page: nobody is told
  network.change(flags::kReachable);
  mainThread.runPending();
  EXPECT_EQ(delivery.count(), 0u);

  watch({{"callback", "1"}, {"__source", "file:///app/webapp/b.html"}});  // the reloaded page
  mainThread.runPending();
  reports = delivery.take();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].id, 1);
  EXPECT_EQ(network.notifiersStarted, 1);
}

TEST_F(ConnectionTest, AReportSaysTheStatusWhenItIsMadeNotWhenTheChangeHappened) {
  watch({{"callback", "5"}});
  mainThread.runPending();
  delivery.take();
  network.change(0);
  network.flags = flags::kReachable | flags::kIsWWAN;  // changed again before the main thread ran
  mainThread.runPending();
  auto reports = delivery.take();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].value.asObject().find("type")->asString(), "CELL_3G");
}

TEST_F(ConnectionTest, UnreadableFlagsReportNoneAndAMonitorThatCannotStartStillGivesTheFirstReport) {
  network.flags.reset();
  network.notifierWorks = false;
  watch({{"callback", "5"}});
  mainThread.runPending();
  auto reports = delivery.take();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(text(reports[0].value), "[{ \"type\" : \"NONE\", \"online\" : \"0\"}]");
}

TEST_F(ConnectionTest, AModuleThatGoesAwayStopsItsMonitorAndItsQueuedReportsSayNothing) {
  watch({{"callback", "5"}});
  network.change(0);  // a report queued for the main thread
  connection.reset();
  EXPECT_TRUE(network.handlers.empty());
  EXPECT_GT(mainThread.runPending(), 0);
  EXPECT_EQ(delivery.count(), 0u);
}

}  // namespace
}  // namespace tavero::modules
