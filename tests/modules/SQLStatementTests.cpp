// What one statement answers: its arguments, rows, counts, errors and size.
#include <limits>

#include "modules/SQLiteFixture.h"

namespace tavero::modules {
namespace {

using SQLStatement = SQLite;

json::Array values(std::string_view jsonText) { return *json::JsonCodec::arrayWithJSONString(jsonText); }

TEST_F(SQLStatement, ArgumentsMustMatchTheParametersInNumber) {
  open("notes");
  std::string t = transaction("1");
  EXPECT_EQ(text(run(t, "SELECT ? AS a, ? AS b", values("[1]"))),
            "{ \"error\" : \"Could not execute statement: the statement has 2 parameters but 1 argument was given\", "
            "\"code\" : 5}");
  EXPECT_EQ(field(run(t, "SELECT ? AS a, ? AS b", values("[1, 2, 3]")), "error"),
            "Could not execute statement: the statement has 2 parameters but 3 arguments were given");
  EXPECT_EQ(field(run(t, "SELECT ?"), "error"),
            "Could not execute statement: the statement has 1 parameter but 0 arguments were given");
  EXPECT_EQ(field(run(t, "SELECT 1", values("[1]")), "error"),
            "Could not execute statement: the statement has 0 parameters but 1 argument was given");
  // Numbered parameters count up to the highest number.
  EXPECT_EQ(rows(run(t, "SELECT ?1, ?1", values("[\"x\"]"))), "[[\"x\", \"x\"]]");
  EXPECT_EQ(rows(run(t, "SELECT ?2", values("[1, 2]"))), "[[2]]");
}

// A statement SQLite cannot prepare is the page's fault whatever SQLite's
// reason (SYNTAX_ERR, as Web SQL browsers answered); one that fails while it
// runs keeps the code of what went wrong.
TEST_F(SQLStatement, StatementsThatCannotBePreparedAreSyntaxErrorsAndRunTimeFailuresKeepTheirCode) {
  auto code = [](const std::optional<json::Value>& answer) {
    const json::Value* found = answer && answer->isObject() ? answer->asObject().find("code") : nullptr;
    return found ? json::JsonCodec::jsonStringForValue(*found) : std::string("<none>");
  };
  open("notes");
  std::string t = transaction("1");
  begin(t);
  run(t, "CREATE TABLE n (a UNIQUE, b)");
  for (const char* sql : {"SLCT 1", "SELECT * FROM missing", "SELECT uper('x')", "INSERT INTO n VALUES (1)",
                          "INSERT INTO n (c) VALUES (1)"})
    EXPECT_EQ(code(run(t, sql)), "5") << sql;
  EXPECT_EQ(field(run(t, "SELECT * FROM missing"), "error"), "Could not execute statement: no such table: missing");
  run(t, "INSERT INTO n VALUES (1, 2)");
  EXPECT_EQ(code(run(t, "INSERT INTO n VALUES (1, 3)")), "6");
  EXPECT_EQ(text(run(t, "SELECT abs(-9223372036854775807 - 1)")),
            "{ \"error\" : \"Could not execute statement: integer overflow\", \"code\" : 1}");
}

TEST_F(SQLStatement, RowsAffectedAndInsertIdDescribeTheStatementItself) {
  open("notes");
  std::string t = transaction("1");
  begin(t);
  run(t, "CREATE TABLE n (id INTEGER PRIMARY KEY, v UNIQUE)");
  run(t, "CREATE TABLE log (what)");
  run(t, "CREATE TRIGGER n_gone AFTER DELETE ON n BEGIN INSERT INTO log VALUES (old.v); END");
  EXPECT_EQ(text(run(t, "INSERT INTO n (v) VALUES ('a'), ('b')")),
            "{ \"insertId\" : 2, \"rowsAffected\" : 2, \"names\" : [], \"rows\" : []}");
  // Neither count of the insert above carries over to statements that
  // changed nothing, or changed rows without inserting one.
  EXPECT_EQ(text(run(t, "SELECT count(*) FROM n")), "{ \"rowsAffected\" : 0, \"names\" : [\"count(*)\"], \"rows\" : [[2]]}");
  EXPECT_EQ(text(run(t, "UPDATE n SET v = 'z' WHERE 0")), "{ \"rowsAffected\" : 0, \"names\" : [], \"rows\" : []}");
  EXPECT_EQ(text(run(t, "INSERT OR IGNORE INTO n (v) VALUES ('a')")),
            "{ \"rowsAffected\" : 0, \"names\" : [], \"rows\" : []}");
  EXPECT_EQ(text(run(t, "UPDATE n SET v = v || '!'")), "{ \"rowsAffected\" : 2, \"names\" : [], \"rows\" : []}");
  // The trigger inserts into log, but the statement itself deleted one row.
  EXPECT_EQ(text(run(t, "DELETE FROM n WHERE id = 1")), "{ \"rowsAffected\" : 1, \"names\" : [], \"rows\" : []}");
  EXPECT_EQ(text(run(t, "INSERT INTO n (v) SELECT what FROM log")),
            "{ \"insertId\" : 3, \"rowsAffected\" : 1, \"names\" : [], \"rows\" : []}");
  EXPECT_EQ(text(run(t, "REPLACE INTO n (id, v) VALUES (3, 'r')")),
            "{ \"insertId\" : 3, \"rowsAffected\" : 1, \"names\" : [], \"rows\" : []}");
  commit(t);
}

TEST_F(SQLStatement, InfinitiesTravelBothWaysAndControlCharactersComeBackAsReadableJson) {
  open("notes");
  std::string t = transaction("1");
  // The page's JSON.parse reads 1e999 as Infinity; NaN has no JSON form and
  // is NULL, as Web SQL binds it.
  auto answer = run(t, "SELECT ?, ?, typeof(?), ? > 1e308, 9e999", values("[1e999, -1e999, 1e999, 1e999]"));
  EXPECT_EQ(rows(answer), "[[1e999, -1e999, \"real\", 1, 1e999]]");
  // Every control character, in text the page stored, comes back as text
  // JSON can read, and as the same text.
  std::string control;
  for (int c = 0; c < 0x20; ++c) control += static_cast<char>(c);
  control += "end";
  json::Array argument{json::Value(control)};
  std::string written = json::JsonCodec::jsonStringForValue(*run(t, "SELECT ?", argument));
  auto back = json::JsonCodec::dictionaryWithJSONString(written);
  ASSERT_TRUE(back) << written;
  EXPECT_EQ(back->find("rows")->asArray()[0].asArray()[0].asString(), control);
  EXPECT_EQ(written.find('\x1b'), std::string::npos);
}

class SQLStatementLimits : public SQLite {
 protected:
  TQSQLite::Options options() override {
    TQSQLite::Options options;
    options.resultLimitBytes = 64 * 1024;
    return options;
  }
};

TEST_F(SQLStatementLimits, AResultPastTheLimitFailsWithTooLargeAndTheTransactionGoesOn) {
  open("notes");
  std::string t = transaction("1");
  begin(t);
  run(t, "CREATE TABLE n (v)");
  run(t, "INSERT INTO n VALUES (1), (2), (3), (4), (5), (6), (7), (8), (9), (10)");
  // 10^4 rows from a cross join, a value of 40,000 bytes (80,000 as hex),
  // a text of 70,000 bytes: each is past 64 KiB.
  const std::string tooLarge = "{ \"error\" : \"Could not execute statement: the result is larger than 64 KiB; ask for fewer "
                               "rows or smaller values\", \"code\" : 3}";
  for (const char* sql : {"SELECT a.v, b.v FROM n a, n b, n c, n d", "SELECT zeroblob(40000)",
                          "SELECT replace(hex(zeroblob(35000)), '0', 'x')"})
    EXPECT_EQ(text(run(t, sql)), tooLarge) << sql;
  EXPECT_EQ(rows(run(t, "SELECT count(*) FROM n a, n b, n c, n d")), "[[10000]]");
  EXPECT_EQ(rows(run(t, "SELECT length(zeroblob(40000))")), "[[40000]]");
  // A value past what SQLite may make for a page fails before it is made.
  EXPECT_EQ(text(run(t, "SELECT length(zeroblob(" + std::to_string(TQSQLite::kMaxValueBytes + 1) + "))")),
            "{ \"error\" : \"Could not execute statement: string or blob too big\", \"code\" : 3}");
  EXPECT_FALSE(commit(t));
}

}  // namespace
}  // namespace tavero::modules
