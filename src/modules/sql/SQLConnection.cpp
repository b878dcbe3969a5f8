#include "modules/sql/SQLConnection.h"

#include <optional>

#include "modules/sql/PageSQLAuthorizer.h"

namespace tavero::modules::sql {

std::unique_ptr<SQLConnection> SQLConnection::open(const SQLCipherLibrary& library, const std::filesystem::path& path,
                                                   int flags) {
  sqlite3* db = nullptr;
  int result = library.open_v2(path.c_str(), &db, flags, nullptr);
  return std::unique_ptr<SQLConnection>(new SQLConnection(library, db, result));
}

SQLConnection::SQLConnection(const SQLCipherLibrary& library, sqlite3* db, int openResult)
    : library_(library), db_(db), openResult_(openResult) {}

SQLConnection::~SQLConnection() {
  authorizer_.reset();
  if (!db_) return;
  // Statements a page left prepared would keep the connection open.
  while (sqlite3_stmt* statement = library_.next_stmt(db_, nullptr)) library_.finalize(statement);
  library_.close(db_);
}

int SQLConnection::errorCode() const { return db_ ? library_.errcode(db_) : SQLITE_NOMEM; }

std::string SQLConnection::errorMessage() const { return db_ ? library_.errmsg(db_) : "out of memory"; }

bool SQLConnection::key(std::string_view passphrase) {
  if (passphrase.empty()) return true;
  return library_.key(db_, passphrase.data(), static_cast<int>(passphrase.size())) == SQLITE_OK;
}

bool SQLConnection::exec(const std::string& sql) {
  std::optional<PageSQLAuthorizer::ShellScope> shell;
  if (authorizer_) shell.emplace(*authorizer_);
  return library_.exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool SQLConnection::installPagePolicy() {
  if (!db_) return false;
  if (!authorizer_) authorizer_ = std::make_unique<PageSQLAuthorizer>(library_, db_);
  return authorizer_->installed();
}

}  // namespace tavero::modules::sql
