// Runs one page statement on a transaction's connection and answers its
// result: {insertId, rowsAffected, names, rows}, or {error, code} where code
// is the Web SQL error code (SQLError) that fits the failure.
#pragma once

#include <cstddef>
#include <string_view>

#include "json/JsonValue.h"
#include "modules/sql/SQLConnection.h"

namespace tavero::modules::sql {

class SQLStatementRunner {
 public:
  // Web SQL's codes for statement errors.
  enum ErrorCode : int {
    kDatabaseError = 1,
    kVersionError = 2,
    kTooLargeError = 3,
    kSyntaxError = 5,
    kConstraintError = 6,
  };

  // How much one statement may answer: the JSON text of its names and rows,
  // where every value also counts kValueOverheadBytes (what holding it in
  // memory costs beyond its text). A statement past it fails with
  // kTooLargeError and its rows are dropped as they come, so memory stays
  // bounded too.
  static constexpr size_t kResultLimitBytes = size_t{32} << 20;
  static constexpr size_t kValueOverheadBytes = 48;

  // {error: "Could not execute statement: <reason>", code}.
  static json::Value errorAnswer(std::string_view reason, int code);

  // True for statements that control transactions (BEGIN, COMMIT, END,
  // ROLLBACK, after leading white space, any case): the shell runs those.
  static bool isTransactionControl(std::string_view sql);

  struct Answer {
    json::Value value;
    size_t resultBytes = 0;  // what the answer counted against the limit
  };

  // How an answer holds its values: a list per row ("rows"), or a list per
  // column ("columns", one list of every row's value for each name), which
  // a page reads back with far fewer lists to make.
  enum class Layout { rows, columns };

  // Prepares `sql` (exactly one statement, nothing after it), binds
  // `arguments` (a JSON array, or null for none; as many values as the
  // statement has parameters) to its parameters in order and steps it to
  // the end. Numbers bind as doubles (infinities too), booleans as 0 and 1,
  // arrays and objects as their JSON text. Rows are arrays of column values;
  // blobs are lower-case hex; text that is not valid UTF-8 has its bad bytes
  // replaced. rowsAffected counts the rows the statement itself changed (0
  // for one that changed none); insertId is there only when the statement
  // inserted a row. On a read-only connection (a read transaction) only
  // statements that change nothing, temporary tables included, may run.
  static Answer run(SQLConnection& connection, std::string_view sql, const json::Value* arguments,
                    size_t resultLimitBytes = kResultLimitBytes, Layout layout = Layout::rows);
};

}  // namespace tavero::modules::sql
