// Runs one page statement on a transaction's connection and answers its
// result: {insertId, rowsAffected, names, rows} or {error}.
#pragma once

#include <string_view>

#include "json/JsonValue.h"
#include "modules/sql/SQLConnection.h"

namespace tavero::modules::sql {

class SQLStatementRunner {
 public:
  // True for statements that control transactions (BEGIN, COMMIT, END,
  // ROLLBACK, after leading white space, any case): the shell runs those.
  static bool isTransactionControl(std::string_view sql);

  // Prepares `sql` (exactly one statement, nothing after it), binds
  // `arguments` (a JSON array, or null for none) to its parameters in
  // order and steps it to the end. Numbers bind as doubles, booleans as 0
  // and 1, arrays and objects as their JSON text. Rows are arrays of column
  // values; blobs are lower-case hex; text that is not valid UTF-8 has its
  // bad bytes replaced.
  static json::Value run(SQLConnection& connection, std::string_view sql, const json::Value* arguments);
};

}  // namespace tavero::modules::sql
