#include "modules/sql/SQLStatementRunner.h"

#include <cctype>
#include <string>

#include "base/AsciiText.h"
#include "json/Hex.h"
#include "json/JsonCodec.h"
#include "json/Utf8.h"
#include "modules/sql/PageSQLAuthorizer.h"

namespace tavero::modules::sql {
namespace {

// One prepared statement, finalized in every case.
class PreparedStatement {
 public:
  PreparedStatement(const SQLCipherLibrary& library, sqlite3_stmt* statement)
      : library_(library), statement_(statement) {}
  ~PreparedStatement() {
    if (statement_) library_.finalize(statement_);
  }
  sqlite3_stmt* get() const { return statement_; }

 private:
  const SQLCipherLibrary& library_;
  sqlite3_stmt* statement_;
};

// Whether `sql`, after leading white space, begins with `word` (upper case),
// in any case. A plain prefix test: "ENDING" begins with "END".
bool beginsWithWord(std::string_view sql, std::string_view word) {
  while (!sql.empty() && std::isspace(static_cast<unsigned char>(sql.front()))) sql.remove_prefix(1);
  return base::startsWithIgnoringAsciiCase(sql, word);
}

// The Web SQL code for an error SQLite reported with `message`.
int codeOf(int sqliteCode, const std::string& message) {
  switch (sqliteCode & 0xff) {
    case SQLITE_CONSTRAINT: return SQLStatementRunner::kConstraintError;
    case SQLITE_TOOBIG: return SQLStatementRunner::kTooLargeError;
    default: break;
  }
  return message.find("syntax error") != std::string::npos ? SQLStatementRunner::kSyntaxError
                                                            : SQLStatementRunner::kDatabaseError;
}

json::Value sqliteFailure(const SQLConnection& connection) {
  std::string message = connection.errorMessage();
  return SQLStatementRunner::errorAnswer(message, codeOf(connection.errorCode(), message));
}

// The answer for a statement SQLite could not prepare. When the statement
// itself is at fault (bad syntax, an unknown table, column or function, or
// something the page may not run), Web SQL reports SYNTAX_ERR, as WebKit and
// Chromium did; a failure of the database itself keeps its own code.
json::Value prepareFailure(const SQLConnection& connection) {
  switch (connection.errorCode() & 0xff) {
    case SQLITE_ERROR:
    case SQLITE_AUTH:
      return SQLStatementRunner::errorAnswer(connection.errorMessage(), SQLStatementRunner::kSyntaxError);
    default:
      return sqliteFailure(connection);
  }
}

std::string plural(size_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

int bind(const SQLCipherLibrary& lib, sqlite3_stmt* statement, int index, const json::Value& value) {
  using Kind = json::Value::Kind;
  switch (value.kind()) {
    case Kind::Null: return lib.bind_null(statement, index);
    case Kind::Boolean: return lib.bind_int(statement, index, value.asBool() ? 1 : 0);
    case Kind::Int32: return lib.bind_int(statement, index, static_cast<int>(value.toInt64()));
    case Kind::Int64: return lib.bind_int64(statement, index, value.toInt64());
    case Kind::Double:
    case Kind::Decimal: return lib.bind_double(statement, index, value.toDouble());
    case Kind::String: {
      const std::string& text = value.asString();
      return lib.bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    case Kind::Array:
    case Kind::Object: {
      std::string text = json::JsonCodec::jsonStringForValue(value);
      return lib.bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
  }
  return SQLITE_MISUSE;
}

// The length of `text` written as a JSON string.
size_t quotedLength(std::string_view text) {
  size_t length = text.size() + 2;
  for (unsigned char c : text) {
    if (c == '"' || c == '\\' || c == '/' || c == '\b' || c == '\t' || c == '\n' || c == '\f' || c == '\r')
      length += 1;
    else if (c < 0x20)
      length += 5;
  }
  return length;
}

// The cost of column `index` of the current row against the result limit,
// found before the value is converted.
size_t columnCost(const SQLCipherLibrary& lib, sqlite3_stmt* statement, int index) {
  size_t text;
  switch (lib.column_type(statement, index)) {
    case SQLITE_TEXT: {
      auto bytes = reinterpret_cast<const char*>(lib.column_text(statement, index));
      text = quotedLength(std::string_view(bytes ? bytes : "", static_cast<size_t>(lib.column_bytes(statement, index))));
      break;
    }
    case SQLITE_BLOB: text = 2 * static_cast<size_t>(lib.column_bytes(statement, index)) + 2; break;
    default: text = 24; break;
  }
  return text + 2 + SQLStatementRunner::kValueOverheadBytes;  // ", " before it
}

json::Value column(const SQLCipherLibrary& lib, sqlite3_stmt* statement, int index) {
  switch (lib.column_type(statement, index)) {
    case SQLITE_INTEGER: return json::Value(static_cast<long long>(lib.column_int64(statement, index)));
    case SQLITE_FLOAT: return json::Value(lib.column_double(statement, index));
    case SQLITE_TEXT: {
      auto text = reinterpret_cast<const char*>(lib.column_text(statement, index));
      std::string_view bytes(text ? text : "", static_cast<size_t>(lib.column_bytes(statement, index)));
      return json::isValidUTF8(bytes) ? json::Value(bytes) : json::Value(json::withInvalidUTF8Replaced(bytes));
    }
    case SQLITE_BLOB: {
      auto blob = static_cast<const unsigned char*>(lib.column_blob(statement, index));
      return json::Value(json::hexText({blob, static_cast<size_t>(lib.column_bytes(statement, index))}));
    }
    default: return json::Value();
  }
}

std::string sizeText(size_t bytes) {
  if (bytes % (size_t{1} << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  if (bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
  return std::to_string(bytes) + " bytes";
}

json::Value tooLarge(size_t limit) {
  return SQLStatementRunner::errorAnswer(
      "the result is larger than " + sizeText(limit) + "; ask for fewer rows or smaller values",
      SQLStatementRunner::kTooLargeError);
}

}  // namespace

json::Value SQLStatementRunner::errorAnswer(std::string_view reason, int code) {
  json::Object error;
  error.append("error", "Could not execute statement: " + std::string(reason));
  error.append("code", code);
  return error;
}

bool SQLStatementRunner::isTransactionControl(std::string_view sql) {
  return beginsWithWord(sql, "BEGIN") || beginsWithWord(sql, "COMMIT") || beginsWithWord(sql, "END") ||
         beginsWithWord(sql, "ROLLBACK");
}

SQLStatementRunner::Answer SQLStatementRunner::run(SQLConnection& connection, std::string_view sql,
                                                   const json::Value* arguments, size_t resultLimitBytes,
                                                   Layout layout) {
  const SQLCipherLibrary& lib = connection.library();
  sqlite3* db = connection.handle();
  PageSQLAuthorizer* policy = connection.pagePolicy();
  if (policy) policy->takeInsertSeen();

  std::string text(sql);
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  int prepared = lib.prepare_v2(db, text.c_str(), -1, &raw, &tail);
  PreparedStatement statement(lib, raw);
  if (prepared != SQLITE_OK) return {prepareFailure(connection)};
  // Web SQL answers DATABASE_ERR for a statement with nothing to run.
  if (!raw) return {errorAnswer("the statement is empty", kDatabaseError)};
  // Exactly one statement: nothing may follow it, not even white space.
  if (tail && *tail != '\0')
    return {errorAnswer("only one statement is allowed, and text follows the first one", kSyntaxError)};

  // A read-only connection stops changes to the file, but not those of
  // temporary tables: a read transaction refuses every statement that could
  // change anything. A REINDEX with no index to rebuild compiles to nothing
  // and so counts as read-only; it is refused by name.
  if (lib.db_readonly(db, "main") == 1 && (!lib.stmt_readonly(raw) || beginsWithWord(sql, "REINDEX")))
    return {errorAnswer("attempt to write a readonly database", kDatabaseError)};

  const json::Array* values = arguments ? arguments->ifArray() : nullptr;
  const size_t given = values ? values->size() : 0;
  const size_t expected = static_cast<size_t>(lib.bind_parameter_count(raw));
  if (given != expected) {
    return {errorAnswer("the statement has " + plural(expected, "parameter") + " but " + plural(given, "argument") +
                            (given == 1 ? " was" : " were") + " given",
                        kSyntaxError)};
  }
  for (size_t i = 0; i < given; ++i)
    if (bind(lib, raw, static_cast<int>(i) + 1, (*values)[i]) != SQLITE_OK) return {sqliteFailure(connection)};

  const int columns = lib.column_count(raw);
  size_t cost = 64;  // the answer's keys and punctuation
  json::Array names;
  names.reserve(static_cast<size_t>(columns));
  for (int c = 0; c < columns; ++c) {
    const char* name = lib.column_name(raw, c);
    names.emplace_back(json::withInvalidUTF8Replaced(name ? name : ""));
    cost += quotedLength(names.back().asString()) + 2 + kValueOverheadBytes;
  }

  const int changesBefore = lib.total_changes(db);
  const sqlite3_int64 lastRowBefore = lib.last_insert_rowid(db);
  // rows: one list per row; columns: one list per column.
  json::Array answered(layout == Layout::columns ? static_cast<size_t>(columns) : 0, json::Value(json::Array{}));
  int stepped;
  while ((stepped = lib.step(raw)) == SQLITE_ROW) {
    cost += 4 + kValueOverheadBytes;  // "[", "]", ", " and the row's own array
    for (int c = 0; c < columns; ++c) cost += columnCost(lib, raw, c);
    if (cost > resultLimitBytes) return {tooLarge(resultLimitBytes), cost};
    if (layout == Layout::columns) {
      for (int c = 0; c < columns; ++c) answered[static_cast<size_t>(c)].asArray().push_back(column(lib, raw, c));
      continue;
    }
    json::Array row;
    row.reserve(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c) row.push_back(column(lib, raw, c));
    answered.emplace_back(std::move(row));
  }
  if (stepped != SQLITE_DONE) return {sqliteFailure(connection), cost};

  // Both counters are the connection's: a statement that changed nothing
  // must not report what an earlier one did.
  const int rowsAffected = lib.total_changes(db) != changesBefore ? lib.changes(db) : 0;
  const bool inserted = rowsAffected > 0 && (policy ? policy->takeInsertSeen() : lib.last_insert_rowid(db) != lastRowBefore);
  json::Object result;
  if (inserted) result.append("insertId", static_cast<long long>(lib.last_insert_rowid(db)));
  result.append("rowsAffected", rowsAffected);
  result.append("names", std::move(names));
  result.append(layout == Layout::columns ? "columns" : "rows", std::move(answered));
  return {json::Value(std::move(result)), cost};
}

}  // namespace tavero::modules::sql
