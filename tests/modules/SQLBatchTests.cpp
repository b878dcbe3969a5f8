// executeBatch: a transaction opened, its statements run and committed in
// one call, and what it refuses.
#include "modules/SQLiteFixture.h"
#include "modules/sql/SQLStatementBatch.h"

namespace tavero::modules {
namespace {

// Transactions that never wait for a lock, and a small result limit.
class SQLBatch : public SQLite {
 protected:
  TQSQLite::Options options() override {
    TQSQLite::Options options;
    options.busyTimeoutMs = 0;
    options.resultLimitBytes = 4096;
    return options;
  }

  // One batch call; `statements` is the page's JSON text of the list.
  std::optional<json::Value> batch(const std::string& statements, Arguments extra = {}) {
    Arguments arguments = {{"databaseId", "1"}};
    if (auto list = json::JsonCodec::arrayWithJSONString(statements))
      arguments.emplace_back("statements", json::Value(std::move(*list)));
    else
      arguments.emplace_back("statements", statements);  // text that is no list, as the bridge passes it
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return call("executeBatch", arguments);
  }
  static std::string results(const std::optional<json::Value>& answer) {
    const json::Value* value = answer && answer->isObject() ? answer->asObject().find("results") : nullptr;
    if (!value) return "<no results: " + text(answer) + ">";
    std::string line;
    json::JsonCodec::appendJsonStringForValue(line, *value, json::JsonCodec::jsonDoNotIndent);
    std::erase(line, '\n');  // objects in a list keep their line breaks
    return line;
  }
  static bool has(const std::optional<json::Value>& answer, const char* key) {
    return answer && answer->isObject() && answer->asObject().contains(key);
  }
};

TEST_F(SQLBatch, OneCallOpensRunsInOrderAndCommitsAnsweringNullForQuietStatementsAndValuesByColumn) {
  open("notes");
  auto answer = batch(R"j([["CREATE TABLE n (v)", null, true], ["INSERT INTO n VALUES (?)", ["a"], true],
                          ["INSERT INTO n VALUES (?)", ["b"]], ["SELECT v, rowid FROM n ORDER BY rowid"]])j",
                      {{"commit", "true"}});
  EXPECT_EQ(field(answer, "transactionId"), "1");
  EXPECT_EQ(results(answer), "[null, null, { \"insertId\" : 2, \"rowsAffected\" : 1, \"names\" : [], \"columns\" : []}, "
                             "{ \"rowsAffected\" : 0, \"names\" : [\"v\", \"rowid\"], \"columns\" : [[\"a\", \"b\"], [1, 2]]}]");
  ASSERT_TRUE(has(answer, "committed"));
  EXPECT_EQ(*answer->asObject().find("committed"), json::Value(true));
  // Committed and ended: the id answers nothing now, and the rows stay.
  EXPECT_FALSE(batch("[[\"SELECT 1\"]]", {{"transactionId", "1"}}));
  EXPECT_EQ(results(batch("[[\"SELECT count(*) FROM n\"]]", {{"readOnly", "true"}, {"commit", "true"}})),
            "[{ \"rowsAffected\" : 0, \"names\" : [\"count(*)\"], \"columns\" : [[2]]}]");
}

TEST_F(SQLBatch, AFailingStatementIsAnsweredEvenWhenQuietTheRestRunAndNothingIsCommitted) {
  open("notes");
  batch(R"j([["CREATE TABLE n (v UNIQUE)", null, true]])j", {{"commit", "true"}});
  auto answer = batch(R"j([["INSERT INTO n VALUES (1)", [], true], ["INSERT INTO n VALUES (1)", [], true],
                          ["INSERT INTO n VALUES (2)", [], true]])j",
                      {{"commit", "true"}});
  const std::string t = field(answer, "transactionId");
  EXPECT_EQ(results(answer), "[null, { \"error\" : \"Could not execute statement: UNIQUE constraint failed: n.v\", "
                             "\"code\" : 6}, null]");
  EXPECT_FALSE(has(answer, "committed"));
  // Still open: the page decides. A later batch continues it.
  EXPECT_EQ(results(batch("[[\"SELECT group_concat(v) FROM n\"]]", {{"transactionId", t}, {"commit", "true"}})),
            "[{ \"rowsAffected\" : 0, \"names\" : [\"group_concat(v)\"], \"columns\" : [[\"1,2\"]]}]");
}

TEST_F(SQLBatch, AReadBatchRefusesWritesAndVersionsAreCheckedForEveryStatement) {
  open("notes", {{"version", "1.0"}});
  batch(R"j([["CREATE TABLE n (v)", null, true]])j", {{"commit", "true"}});
  auto read = batch(R"j([["INSERT INTO n VALUES (1)"], ["CREATE TEMP TABLE t (x)"]])j", {{"readOnly", "true"}});
  EXPECT_EQ(results(read),
            "[{ \"error\" : \"Could not execute statement: attempt to write a readonly database\", \"code\" : 1}, "
            "{ \"error\" : \"Could not execute statement: attempt to write a readonly database\", \"code\" : 1}]");
  rollback(field(read, "transactionId"));
  auto stale = batch(R"j([["SELECT 1", [], true], ["SELECT 2"]])j", {{"version", "2.0"}});
  EXPECT_EQ(results(stale),
            "[{ \"error\" : \"Could not execute statement: version mismatch\", \"code\" : 2}, "
            "{ \"error\" : \"Could not execute statement: version mismatch\", \"code\" : 2}]");
  rollback(field(stale, "transactionId"));
  // Transaction control stays the shell's.
  EXPECT_EQ(results(batch(R"j([["COMMIT", [], true]])j")),
            "[{ \"error\" : \"Could not execute statement: not authorized\", \"code\" : 5}]");
}

TEST_F(SQLBatch, MalformedListsAreRefusedWholeBeforeAnythingOpensOrRuns) {
  open("notes");
  const std::string refused = "Could not execute statements: ";
  for (const auto& [list, why] : std::vector<std::pair<std::string, std::string>>{
           {"not a list", "the statements are not a JSON list"},
           {"{\"sql\": \"SELECT 1\"}", "the statements are not a JSON list"},
           {"[\"SELECT 1\"]", "statement 1 is not a list of [sql, arguments, quiet]"},
           {"[[\"SELECT 1\"], []]", "statement 2 is not a list of [sql, arguments, quiet]"},
           {"[[\"SELECT 1\", [], true, 4]]", "statement 1 is not a list of [sql, arguments, quiet]"},
           {"[[1]]", "statement 1 has no SQL text"},
           {"[[\"SELECT ?\", \"[1]\"]]", "statement 1 has arguments that are not a list"},
           {"[[\"SELECT 1\", [], \"yes\"]]", "statement 1 has a quiet flag that is not true or false"}}) {
    EXPECT_EQ(text(batch(list, {{"commit", "true"}})), "{ \"error\" : \"" + refused + why + "\"}") << list;
  }
  std::string many = "[";
  for (size_t i = 0; i <= sql::SQLStatementBatch::kMaxStatements; ++i) many += i ? ",[\"SELECT 1\"]" : "[\"SELECT 1\"]";
  EXPECT_EQ(text(batch(many + "]")),
            "{ \"error\" : \"" + refused + "a batch holds at most 5000 statements, not 5001\"}");
  // Nothing was opened: the next transaction is the first.
  EXPECT_EQ(field(batch("[]"), "transactionId"), "1");
}

TEST_F(SQLBatch, IdsOfAnotherOriginUnknownIdsAndEndedTransactionsRunNothing) {
  open("notes");
  const std::string t = field(batch(R"j([["CREATE TABLE n (v)", null, true]])j"), "transactionId");
  const std::string site = "http://ads.example.com/frame.html";
  EXPECT_FALSE(batch("[[\"DROP TABLE n\"]]", {{"transactionId", t}, {"__source", site}, {"commit", "true"}}));
  EXPECT_FALSE(batch("[[\"SELECT 1\"]]", {{"__source", site}}));  // its database id opens nothing for the site
  EXPECT_FALSE(batch("[[\"SELECT 1\"]]", {{"transactionId", "99"}}));
  EXPECT_EQ(results(batch("[[\"SELECT count(*) FROM n\"]]", {{"transactionId", t}})),
            "[{ \"rowsAffected\" : 0, \"names\" : [\"count(*)\"], \"columns\" : [[0]]}]");  // still the app's, still open

  sqlite_->pageDocumentEnded("index.html");
  EXPECT_EQ(text(batch("[[\"SELECT 1\"]]", {{"transactionId", t}})),
            "{ \"error\" : \"Could not execute statement: the transaction was rolled back because the page that "
            "created it went away\", \"code\" : 1}");
}

TEST_F(SQLBatch, ATransactionThatCannotBeginIsGoneAndSaysWhy) {
  open("notes");
  batch(R"j([["CREATE TABLE n (v)", null, true]])j", {{"commit", "true"}});
  const std::string holder = field(batch("[[\"INSERT INTO n VALUES (1)\", [], true]]"), "transactionId");
  EXPECT_EQ(text(batch("[[\"INSERT INTO n VALUES (2)\", [], true]]", {{"commit", "true"}})),
            "{ \"error\" : \"Could not begin transaction: database is locked\"}");
  EXPECT_FALSE(batch("[[\"SELECT 1\"]]", {{"transactionId", "3"}}));  // the one that could not begin
  ASSERT_FALSE(rollback(holder));
  EXPECT_EQ(results(batch("[[\"SELECT count(*) FROM n\"]]", {{"readOnly", "true"}, {"commit", "true"}})),
            "[{ \"rowsAffected\" : 0, \"names\" : [\"count(*)\"], \"columns\" : [[0]]}]");
}

TEST_F(SQLBatch, StatementsPastTheResultLimitAreLeftForTheNextCallAndNothingIsCommitted) {
  open("notes");
  const std::string big = "SELECT hex(zeroblob(1000))";  // 2,000 characters of answer
  auto answer = batch("[[\"" + big + "\"], [\"" + big + "\"], [\"" + big + "\"], [\"SELECT 4\"]]", {{"commit", "true"}});
  ASSERT_TRUE(answer && answer->isObject());
  const json::Value* entries = answer->asObject().find("results");
  ASSERT_TRUE(entries && entries->isArray());
  EXPECT_EQ(entries->asArray().size(), 2u);  // the third would go past 4 KiB of answers
  EXPECT_FALSE(has(answer, "committed"));
  // A statement alone past the limit still runs, and fails with TOO_LARGE_ERR.
  const std::string t = field(answer, "transactionId");
  EXPECT_EQ(results(batch("[[\"SELECT hex(zeroblob(3000))\"]]", {{"transactionId", t}})),
            "[{ \"error\" : \"Could not execute statement: the result is larger than 4 KiB; ask for fewer rows or "
            "smaller values\", \"code\" : 3}]");
}

}  // namespace
}  // namespace tavero::modules
