#include "modules/sql/SQLStatementRunner.h"

#include <cctype>
#include <string>

#include "json/JsonCodec.h"
#include "json/Utf8.h"

namespace tavero::modules::sql {
namespace {

json::Value failure(const std::string& reason) {
  json::Object error;
  error.append("error", "Could not execute statement: " + reason);
  return error;
}

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

std::string hex(const unsigned char* bytes, int count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(static_cast<size_t>(count) * 2);
  for (int i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
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
      return json::Value(hex(blob, lib.column_bytes(statement, index)));
    }
    default: return json::Value();
  }
}

}  // namespace

bool SQLStatementRunner::isTransactionControl(std::string_view sql) {
  while (!sql.empty() && std::isspace(static_cast<unsigned char>(sql.front()))) sql.remove_prefix(1);
  auto startsWith = [&](std::string_view word) {
    if (sql.size() < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
      if (std::toupper(static_cast<unsigned char>(sql[i])) != word[i]) return false;
    return true;
  };
  return startsWith("BEGIN") || startsWith("COMMIT") || startsWith("END") || startsWith("ROLLBACK");
}

json::Value SQLStatementRunner::run(SQLConnection& connection, std::string_view sql, const json::Value* arguments) {
  const SQLCipherLibrary& lib = connection.library();
  std::string text(sql);
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  int prepared = lib.prepare_v2(connection.handle(), text.c_str(), -1, &raw, &tail);
  PreparedStatement statement(lib, raw);
  // Exactly one statement: nothing may follow it, not even white space.
  if (prepared != SQLITE_OK || !raw || (tail && *tail != '\0')) return failure(connection.errorMessage());

  if (const json::Array* values = arguments ? arguments->ifArray() : nullptr) {
    for (size_t i = 0; i < values->size(); ++i)
      if (bind(lib, raw, static_cast<int>(i) + 1, (*values)[i]) != SQLITE_OK) return failure(connection.errorMessage());
  }

  int columns = lib.column_count(raw);
  json::Array names;
  names.reserve(static_cast<size_t>(columns));
  for (int c = 0; c < columns; ++c) {
    const char* name = lib.column_name(raw, c);
    names.emplace_back(json::withInvalidUTF8Replaced(name ? name : ""));
  }
  json::Array rows;
  int stepped;
  while ((stepped = lib.step(raw)) == SQLITE_ROW) {
    json::Array row;
    row.reserve(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c) row.push_back(column(lib, raw, c));
    rows.emplace_back(std::move(row));
  }
  if (stepped != SQLITE_DONE) return failure(connection.errorMessage());

  json::Object result;
  result.append("insertId", static_cast<long long>(lib.last_insert_rowid(connection.handle())));
  result.append("rowsAffected", lib.changes(connection.handle()));
  result.append("names", std::move(names));
  result.append("rows", std::move(rows));
  return result;
}

}  // namespace tavero::modules::sql
