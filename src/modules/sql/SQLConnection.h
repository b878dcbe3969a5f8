// One SQLCipher connection, closed when the object goes. Statements the
// shell runs itself (BEGIN, COMMIT, keying checks) go through exec(); page
// SQL is checked by the page policy once installPagePolicy() was called.
//
// Thread rules: one thread at a time (callers serialise).
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "modules/sql/SQLCipherLibrary.h"

namespace tavero::modules::sql {

class PageSQLAuthorizer;

class SQLConnection {
 public:
  // Opens `path` with SQLite open flags. The connection is returned also
  // when opening failed (SQLite hands one back for its error message):
  // check isOpen().
  static std::unique_ptr<SQLConnection> open(const SQLCipherLibrary& library, const std::filesystem::path& path,
                                             int flags);
  ~SQLConnection();

  SQLConnection(const SQLConnection&) = delete;
  SQLConnection& operator=(const SQLConnection&) = delete;

  bool isOpen() const { return openResult_ == SQLITE_OK; }
  sqlite3* handle() const { return db_; }
  const SQLCipherLibrary& library() const { return library_; }

  int errorCode() const;
  std::string errorMessage() const;

  // sqlite3_key with the passphrase's bytes; true when SQLite accepted it.
  // An empty passphrase is not given to SQLite (it would refuse it).
  bool key(std::string_view passphrase);
  // Runs one of the shell's own statements, outside the page policy.
  bool exec(const std::string& sql);

  // From now on, page SQL on this connection is checked. False when the
  // policy is not fully in place (the step that failed is logged): then no
  // page SQL may run on the connection.
  bool installPagePolicy();
  // The page policy, once installed.
  PageSQLAuthorizer* pagePolicy() const { return authorizer_.get(); }

 private:
  SQLConnection(const SQLCipherLibrary& library, sqlite3* db, int openResult);

  const SQLCipherLibrary& library_;
  sqlite3* db_;
  int openResult_;
  std::unique_ptr<PageSQLAuthorizer> authorizer_;
};

}  // namespace tavero::modules::sql
