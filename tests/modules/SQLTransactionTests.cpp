// How transactions begin, wait, and end when the page does not end them.
#include <atomic>
#include <future>
#include <thread>

#include "modules/SQLiteFixture.h"

namespace tavero::modules {
namespace {

// Transactions that never wait for a lock, and a clock the test moves.
class SQLTransactions : public SQLite {
 protected:
  TQSQLite::Options options() override {
    TQSQLite::Options options;
    options.busyTimeoutMs = 0;
    options.clock = [this] { return start_ + std::chrono::milliseconds(elapsedMs_.load()); };
    return options;
  }
  void advance(std::chrono::milliseconds by) { elapsedMs_ += by.count(); }

  std::string writeTransaction(const std::string& source = "file:///app/index.html") {
    std::string t = transaction("1", false, source);
    auto began = begin(t);
    EXPECT_FALSE(began) << text(began);
    return t;
  }

  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::atomic<int64_t> elapsedMs_{0};
};

TEST_F(SQLTransactions, StatementsOfATransactionThatCouldNotBeginFailAndChangeNothing) {
  open("notes");
  std::string holder = writeTransaction();
  run(holder, "CREATE TABLE n (v)");
  ASSERT_FALSE(commit(holder));
  holder = writeTransaction();

  std::string late = transaction("1");
  EXPECT_EQ(text(begin(late)), "\"Could not begin transaction: database is locked\"");
  EXPECT_EQ(text(run(late, "INSERT INTO n VALUES (1)")),
            "{ \"error\" : \"Could not execute statement: the transaction could not begin\", \"code\" : 1}");
  rollback(late);
  ASSERT_FALSE(rollback(holder));
  std::string reader = transaction("1", true);
  EXPECT_EQ(rows(run(reader, "SELECT count(*) FROM n")), "[[0]]");
  rollback(reader);
  // A second BEGIN fails inside a transaction that did begin: its
  // statements still run.
  std::string twice = writeTransaction();
  EXPECT_TRUE(begin(twice));
  EXPECT_EQ(field(run(twice, "INSERT INTO n VALUES (2)"), "error"), "<none>");
}

TEST_F(SQLTransactions, StatementsAfterSQLiteRolledATransactionBackFailInsteadOfCommittingAlone) {
  open("notes");
  std::string setup = writeTransaction();
  run(setup, "CREATE TABLE n (v UNIQUE)");
  ASSERT_FALSE(commit(setup));

  std::string t = writeTransaction();
  run(t, "INSERT INTO n VALUES (1)");
  EXPECT_EQ(text(run(t, "INSERT OR ROLLBACK INTO n VALUES (1)")),  // SQLite ends the transaction
            "{ \"error\" : \"Could not execute statement: UNIQUE constraint failed: n.v\", \"code\" : 6}");
  EXPECT_EQ(text(run(t, "INSERT INTO n VALUES (2)")),
            "{ \"error\" : \"Could not execute statement: the transaction was rolled back after an error\", \"code\" : 1}");
  EXPECT_TRUE(commit(t));
  std::string reader = transaction("1", true);
  EXPECT_EQ(rows(run(reader, "SELECT count(*) FROM n")), "[[0]]");
  rollback(reader);
}

TEST_F(SQLTransactions, ATransactionIdleForLongerThanTheLimitIsRolledBackAndSaysSo) {
  open("notes");
  std::string idle = writeTransaction();
  run(idle, "CREATE TABLE n (v)");
  advance(TQSQLite::kIdleLimit - std::chrono::milliseconds(1));
  EXPECT_EQ(sqlite_->rollBackIdleTransactions(), 0u);
  run(idle, "INSERT INTO n VALUES (1)");  // used again: idle from now on
  advance(TQSQLite::kIdleLimit - std::chrono::milliseconds(1));
  EXPECT_EQ(sqlite_->rollBackIdleTransactions(), 0u);
  std::string fresh = transaction("1");
  advance(std::chrono::milliseconds(2));
  sqlite_->rollBackIdleTransactions();  // the module's own thread may have done it already

  const std::string reason = "the transaction was rolled back after being idle for more than 20 seconds";
  EXPECT_EQ(text(run(idle, "SELECT 1")),
            "{ \"error\" : \"Could not execute statement: " + reason + "\", \"code\" : 1}");
  EXPECT_EQ(text(begin(idle)), "\"Could not begin transaction: " + reason + "\"");
  EXPECT_EQ(text(commit(idle)), "\"Could not commit transaction: " + reason + "\"");
  EXPECT_FALSE(rollback(idle));
  EXPECT_FALSE(commit(idle));  // the page rolled it back: forgotten, as any ended transaction

  // Its lock is gone and what it did is undone; the younger one stays.
  auto began = begin(fresh);
  EXPECT_FALSE(began) << text(began);
  EXPECT_NE(field(run(fresh, "SELECT * FROM n"), "error").find("no such table"), std::string::npos);
}

TEST_F(SQLTransactions, APagesTransactionsEndWhenItsDocumentGoesAwayAndOnlyThose) {
  open("notes");
  std::string writer = writeTransaction("file:///app/index.html?reload=1#top");
  run(writer, "CREATE TABLE n (v)");
  std::string reader = transaction("1", true, "file:///app/other.html");
  std::string unbegun = transaction("1", false, "file:///app/index.html");

  sqlite_->pageDocumentEnded("index.html");
  const std::string reason = "the transaction was rolled back because the page that created it went away";
  EXPECT_EQ(field(run(writer, "SELECT 1"), "error"), "Could not execute statement: " + reason);
  EXPECT_EQ(field(run(unbegun, "SELECT 1"), "error"), "Could not execute statement: " + reason);
  EXPECT_EQ(field(run(reader, "SELECT 1"), "error"), "<none>");

  // The writer's lock goes once the module's thread has rolled it back:
  // this BEGIN waits for that.
  sqlite_.reset();
  auto options = this->options();
  options.busyTimeoutMs = 60'000;
  sqlite_ = std::make_unique<TQSQLite>(callbacks_, folder_, options);
  open("notes");
  writer = writeTransaction();
  sqlite_->pageDocumentEnded("index.html");
  std::string next = transaction("1", false, "file:///app/index.html");
  auto began = begin(next);
  EXPECT_FALSE(began) << text(began);
}

TEST_F(SQLTransactions, AWaitingBeginHoldsUpNeitherOtherDatabasesNorOpeningItsOwn) {
  sqlite_.reset();
  auto options = this->options();
  options.busyTimeoutMs = 60'000;
  sqlite_ = std::make_unique<TQSQLite>(callbacks_, folder_, options);
  open("notes", {{"passphrase", "secret"}});
  open("other");
  std::string holder = transaction("1");
  ASSERT_FALSE(begin(holder));
  run(holder, "CREATE TABLE n (v)");
  std::string waiter = transaction("1");
  auto waiting = std::async(std::launch::async, [&] { return begin(waiter); });

  // Meanwhile: the same database opens again (its key needs no look at the
  // locked file), and the other database works as usual.
  EXPECT_EQ(field(open("notes", {{"passphrase", "secret"}}), "id"), "1");
  EXPECT_EQ(text(call("getVersion", {{"databaseId", "1"}})), "\"\"");
  std::string elsewhere = transaction("2");
  EXPECT_FALSE(begin(elsewhere));
  EXPECT_EQ(field(run(elsewhere, "CREATE TABLE m (v)", std::nullopt, "2"), "error"), "<none>");
  EXPECT_FALSE(commit(elsewhere));
  EXPECT_EQ(waiting.wait_for(std::chrono::seconds(0)), std::future_status::timeout);

  ASSERT_FALSE(commit(holder));
  auto began = waiting.get();
  EXPECT_FALSE(began) << text(began);  // began once the holder committed
  EXPECT_EQ(field(run(waiter, "INSERT INTO n VALUES (1)"), "error"), "<none>");
}

}  // namespace
}  // namespace tavero::modules
