#include "modules/sql/PageSQLAuthorizer.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>

namespace tavero::modules::sql {
namespace {

namespace fs = std::filesystem;
using Scope = PageSQLAuthorizer::ShellScope;

// A fresh database file in a fresh folder, guarded by the page policy.
class PageSQLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(lib, nullptr) << "libsqlcipher.so.0 is needed";
    std::string pattern = (fs::temp_directory_path() / "tavero-sql-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root = pattern;
    ASSERT_EQ(lib->open_v2((root / "page.db").c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
              SQLITE_OK);
    authorizer = std::make_unique<PageSQLAuthorizer>(*lib, db);
  }
  void TearDown() override {
    authorizer.reset();
    if (db) lib->close(db);
    if (!root.empty()) fs::remove_all(root);
  }

  // Return code and message (read from the connection: the table has no
  // sqlite3_free for one exec hands out); `first` gets the first value.
  int run(const std::string& sql, std::string* message = nullptr, std::string* first = nullptr) {
    auto keep = [](void* out, int count, char** values, char**) {
      if (out && count > 0) *static_cast<std::string*>(out) = values[0] ? values[0] : "NULL";
      return 0;
    };
    int rc = lib->exec(db, sql.c_str(), keep, first, nullptr);
    if (message) *message = rc == SQLITE_OK ? "" : lib->errmsg(db);
    return rc;
  }
  std::string value(const std::string& sql) {
    std::string first;
    EXPECT_EQ(run(sql, nullptr, &first), SQLITE_OK) << sql;
    return first;
  }
  void expectRuns(std::initializer_list<std::string> statements) {
    std::string message;
    for (const std::string& sql : statements) EXPECT_EQ(run(sql, &message), SQLITE_OK) << sql << ": " << message;
  }
  // Refused when prepared, with SQLite's answer to a denial.
  void expectRefused(std::initializer_list<std::string> statements) {
    std::string message;
    for (const std::string& sql : statements) {
      EXPECT_EQ(run(sql, &message), SQLITE_AUTH) << sql;
      EXPECT_EQ(message, "not authorized") << sql;
    }
  }

  const SQLCipherLibrary* lib = SQLCipherLibrary::get();
  fs::path root;
  sqlite3* db = nullptr;
  std::unique_ptr<PageSQLAuthorizer> authorizer;
};

TEST_F(PageSQLTest, PagesOwnSchemaDataAndSavepointsWork) {
  EXPECT_TRUE(authorizer->installed());
  expectRuns({"CREATE TABLE t(id INTEGER PRIMARY KEY AUTOINCREMENT, name, n)", "INSERT INTO t(name, n) VALUES('a', 1)",
              "UPDATE t SET n = n + 10", "DELETE FROM t WHERE n < 0", "CREATE INDEX t_name ON t(name)",
              "CREATE VIEW v AS SELECT name FROM t", "CREATE TABLE log(what)",
              "CREATE TRIGGER t_log AFTER INSERT ON t BEGIN INSERT INTO log VALUES(new.name); END",
              "INSERT INTO t(name, n) VALUES('b', 2)", "SELECT name, instr(name, 'a'), random() FROM v",
              "DROP VIEW v",  // this SQLite's RENAME leaves views naming the old table
              "ALTER TABLE t RENAME TO items", "ALTER TABLE items ADD COLUMN extra", "REINDEX",
              "CREATE TEMP TABLE scratch(x)", "CREATE TEMP VIEW sv AS SELECT x FROM scratch",
              "WITH c(x) AS (SELECT 1) SELECT x FROM c", "SELECT name FROM sqlite_master",
              "SAVEPOINT a", "INSERT INTO items(name) VALUES('gone')", "ROLLBACK TO a", "RELEASE a",
              "DROP TRIGGER t_log", "DROP INDEX t_name", "DROP TABLE items", "DROP VIEW sv", "DROP TABLE scratch"});
  EXPECT_EQ(value("SELECT group_concat(what) FROM log"), "b");
}

TEST_F(PageSQLTest, ReachingOutsideTheDatabaseOrIntoKnownHolesIsRefused) {
  fs::path other = root / "x.db";
  expectRefused({"ATTACH DATABASE '" + other.string() + "' AS x", "DETACH DATABASE x"});
  EXPECT_FALSE(fs::exists(other));
  expectRuns({"CREATE TABLE t(a)"});
  expectRefused({"PRAGMA table_info(t)", "PRAGMA key='x'", "PRAGMA cipher_version", "PRAGMA writable_schema=1",
                 "CREATE VIRTUAL TABLE f USING fts3(a)", "CREATE VIRTUAL TABLE f USING fts4(a)",
                 "CREATE VIRTUAL TABLE r USING rtree(id, x0, x1)", "ANALYZE",
                 "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT x FROM c", "BEGIN",
                 "COMMIT"});
  EXPECT_EQ(value("SELECT count(*) FROM sqlite_master"), "1");
}

TEST_F(PageSQLTest, DangerousFunctionsFailEvenWhereTheAuthorizerDoesNotLook) {
  std::string message;
  EXPECT_NE(run("SELECT hex(fts3_tokenizer('simple'))", &message), SQLITE_OK);
  EXPECT_EQ(message, "not authorized to use function: fts3_tokenizer");
  EXPECT_NE(run("SELECT load_extension('x')"), SQLITE_OK);

  // Column defaults run without the authorizer: every replacement, at every
  // argument count the original has, must fail there.
  int index = 0;
  for (const char* call : {"hex(fts3_tokenizer('simple'))", "fts3_tokenizer('t', x'00')", "load_extension('x')",
                           "load_extension('x', 'y')", "sqlcipher_export('main')", "snippet(1)", "offsets(1)",
                           "matchinfo(1)", "matchinfo(1, 'x')", "optimize(1)", "rtreenode(2, x'00')",
                           "rtreedepth(x'00')"}) {
    std::string table = "d" + std::to_string(index++);
    expectRuns({"CREATE TABLE " + table + "(a, b DEFAULT (" + call + "))"});
    EXPECT_EQ(run("INSERT INTO " + table + "(a) VALUES(1)", &message), SQLITE_ERROR) << call;
    EXPECT_EQ(message, "not authorized") << call;
  }

  // Without the authorizer, transactions run again; the replacements stay.
  authorizer.reset();
  expectRuns({"BEGIN", "ROLLBACK"});
  EXPECT_EQ(run("SELECT hex(fts3_tokenizer('simple'))", &message), SQLITE_ERROR);
  EXPECT_EQ(message, "not authorized");
}

TEST_F(PageSQLTest, StatisticsAndShellTablesAreOffLimitsButDdlStillWorks) {
  expectRuns({"CREATE TABLE t(a)", "CREATE INDEX t_a ON t(a)", "INSERT INTO t VALUES(1), (2)"});
  {
    Scope shell(*authorizer);
    expectRuns({"ANALYZE", "CREATE TABLE __WebKitDatabaseInfoTable__(key, value)"});
  }
  expectRefused({"INSERT INTO sqlite_stat1 VALUES('t', 't_a', '1 0')", "UPDATE sqlite_stat1 SET stat = '1 0'",
                 "INSERT INTO __webkitdatabaseinfotable__ VALUES(1, 2)", "CREATE TABLE __WebKitDatabaseInfoTable__2(a)"});
  std::string message;
  EXPECT_EQ(run("SELECT value FROM __WebKitDatabaseInfoTable__", &message), SQLITE_AUTH);
  EXPECT_EQ(message, "access to __WebKitDatabaseInfoTable__.value is prohibited");
  // Dropping analysed tables deletes their statistics rows.
  expectRuns({"DROP INDEX t_a", "DROP TABLE t"});
  EXPECT_EQ(value("SELECT count(*) FROM sqlite_stat1"), "0");
}

TEST_F(PageSQLTest, ShellStatementsRunOnlyInsideAShellScope) {
  {
    Scope shell(*authorizer);
    expectRuns({"PRAGMA key='secret'", "SELECT count(*) FROM sqlite_master", "BEGIN EXCLUSIVE"});
  }
  expectRuns({"CREATE TABLE t(a)", "INSERT INTO t VALUES(1)"});
  expectRefused({"COMMIT"});
  {
    Scope outer(*authorizer);
    { Scope inner(*authorizer); }
    expectRuns({"COMMIT"});
  }
  expectRefused({"BEGIN", "ROLLBACK"});
}

TEST_F(PageSQLTest, OnlyATopLevelInsertIntoAPageTableCountsAsAnInsert) {
  expectRuns({"CREATE TABLE t(a)", "CREATE TABLE log(what)",
              "CREATE TRIGGER t_log AFTER UPDATE ON t BEGIN INSERT INTO log VALUES(new.a); END"});
  authorizer->takeInsertSeen();
  expectRuns({"INSERT INTO t VALUES(1)"});
  EXPECT_TRUE(authorizer->takeInsertSeen());
  EXPECT_FALSE(authorizer->takeInsertSeen());  // taking it starts over
  for (const char* sql : {"UPDATE t SET a = 2", "CREATE TABLE u(b)", "SELECT * FROM t", "DELETE FROM log"}) {
    expectRuns({sql});
    EXPECT_FALSE(authorizer->takeInsertSeen()) << sql;
  }
  expectRuns({"REPLACE INTO t VALUES(3)"});
  EXPECT_TRUE(authorizer->takeInsertSeen());
}

TEST(PageSQLAuthorizerDecide, AnswersByActionNameAndDatabase) {
  auto decide = [](int action, const char* first, const char* second, const char* database, const char* trigger) {
    return PageSQLAuthorizer::decide(action, first, second, database, trigger);
  };
  for (int action = -1; action <= 40; ++action) {  // never SQLITE_IGNORE
    int answer = decide(action, nullptr, nullptr, nullptr, nullptr);
    EXPECT_TRUE(answer == SQLITE_OK || answer == SQLITE_DENY) << action;
  }
  EXPECT_EQ(decide(0, nullptr, nullptr, nullptr, nullptr), SQLITE_DENY);  // retired COPY
  EXPECT_EQ(decide(34, nullptr, nullptr, nullptr, nullptr), SQLITE_DENY);
  EXPECT_EQ(decide(SQLITE_SAVEPOINT, "ROLLBACK", "a", nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(decide(SQLITE_INSERT, "t", nullptr, "temp", "a_trigger"), SQLITE_OK);
  EXPECT_EQ(decide(SQLITE_READ, "t", "a", "aux", nullptr), SQLITE_DENY);
  EXPECT_EQ(decide(SQLITE_ALTER_TABLE, "aux", "t", nullptr, nullptr), SQLITE_DENY);
  EXPECT_EQ(decide(SQLITE_FUNCTION, nullptr, "FTS3_Tokenizer", nullptr, nullptr), SQLITE_DENY);
  EXPECT_EQ(decide(SQLITE_FUNCTION, nullptr, "fts3_tokenizerx", nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(decide(SQLITE_CREATE_INDEX, "i", "__WEBKITDATABASEINFOTABLE__", "main", nullptr), SQLITE_DENY);
  EXPECT_EQ(decide(SQLITE_UPDATE, "sqlite_sequence", "name", "main", nullptr), SQLITE_OK);
  EXPECT_EQ(decide(SQLITE_INSERT, "SQLITE_STAT4", nullptr, "main", nullptr), SQLITE_DENY);
  EXPECT_EQ(decide(SQLITE_DELETE, "sqlite_stat4", nullptr, "main", nullptr), SQLITE_OK);
}

}  // namespace
}  // namespace tavero::modules::sql
