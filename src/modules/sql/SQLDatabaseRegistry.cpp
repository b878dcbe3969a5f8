#include "modules/sql/SQLDatabaseRegistry.h"

#include <system_error>

#include "base/PrivateFiles.h"
#include "log/Log.h"

namespace tavero::modules::sql {

// A prepared registry statement, finalized when it goes.
class SQLDatabaseRegistry::Statement {
 public:
  Statement(SQLConnection& connection, const char* sql) : library_(connection.library()) {
    if (library_.prepare_v2(connection.handle(), sql, -1, &statement_, nullptr) != SQLITE_OK) statement_ = nullptr;
  }
  ~Statement() {
    if (statement_) library_.finalize(statement_);
  }
  bool ok() const { return statement_ != nullptr; }
  Statement& text(int index, const std::string& value) {
    if (statement_)
      library_.bind_text(statement_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& integer(int index, int64_t value) {
    if (statement_) library_.bind_int64(statement_, index, value);
    return *this;
  }
  int step() { return statement_ ? library_.step(statement_) : SQLITE_ERROR; }
  int64_t columnInteger(int column) { return library_.column_int64(statement_, column); }
  std::optional<std::string> columnText(int column) {
    if (library_.column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
    const unsigned char* text = library_.column_text(statement_, column);
    return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(library_.column_bytes(statement_, column)));
  }

 private:
  const SQLCipherLibrary& library_;
  sqlite3_stmt* statement_ = nullptr;
};

std::unique_ptr<SQLDatabaseRegistry> SQLDatabaseRegistry::open(const SQLCipherLibrary& library,
                                                               const std::filesystem::path& folder) {
  if (std::error_code ec = base::createPrivateFolders(folder)) {
    log::error("SQL: cannot create " + folder.string() + ": " + ec.message());
    return nullptr;
  }
  std::filesystem::path file = folder / kFileName;
  std::error_code ec;
  bool existed = std::filesystem::exists(file, ec);
  if (std::error_code made = base::createPrivateFile(file)) {
    log::error("SQL: cannot create the registry " + file.string() + ": " + made.message());
    return nullptr;
  }
  auto connection = SQLConnection::open(library, file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  if (!connection->isOpen()) {
    log::error("SQL: cannot open the registry " + file.string() + ": " + connection->errorMessage());
    return nullptr;
  }
  if (!existed && !connection->exec(kCreateTable))
    log::error("SQL: cannot create the registry table: " + connection->errorMessage());
  return std::unique_ptr<SQLDatabaseRegistry>(new SQLDatabaseRegistry(std::move(connection)));
}

SQLDatabaseRegistry::SQLDatabaseRegistry(std::unique_ptr<SQLConnection> connection)
    : connection_(std::move(connection)) {}

SQLDatabaseRegistry::LookUp SQLDatabaseRegistry::lookUp(const std::string& origin, const std::string& name) {
  std::lock_guard lock(mutex_);
  Statement statement(*connection_, "SELECT uid, version FROM Databases WHERE origin=?1 AND name=?2");
  statement.text(1, origin).text(2, name);
  int result = statement.step();
  if (result == SQLITE_DONE) return {Outcome::notFound, {}};
  if (result != SQLITE_ROW) return {Outcome::failed, {}};
  return {Outcome::found, {statement.columnInteger(0), statement.columnText(1)}};
}

std::optional<int64_t> SQLDatabaseRegistry::registerDatabase(const std::string& origin, const std::string& name,
                                                             const std::string& version,
                                                             const std::string& displayName, int32_t estimatedSize) {
  std::lock_guard lock(mutex_);
  Statement statement(*connection_,
                      "INSERT INTO Databases (origin, name, version, displayName, estimatedSize) "
                      "VALUES (?1, ?2, ?3, ?4, ?5)");
  statement.text(1, origin).text(2, name).text(3, version).text(4, displayName).integer(5, estimatedSize);
  if (statement.step() != SQLITE_DONE) return std::nullopt;
  return connection_->library().last_insert_rowid(connection_->handle());
}

bool SQLDatabaseRegistry::refresh(int64_t uid, const std::string& displayName, int32_t estimatedSize) {
  std::lock_guard lock(mutex_);
  Statement statement(*connection_, "UPDATE Databases SET displayName=?1, estimatedSize=?2 WHERE uid=?3");
  statement.text(1, displayName).integer(2, estimatedSize).integer(3, uid);
  return statement.step() == SQLITE_DONE;
}

std::optional<std::string> SQLDatabaseRegistry::version(int64_t uid) {
  std::lock_guard lock(mutex_);
  Statement statement(*connection_, "SELECT version FROM Databases WHERE uid=?1");
  statement.integer(1, uid);
  if (statement.step() != SQLITE_ROW) return std::nullopt;
  return statement.columnText(0);
}

bool SQLDatabaseRegistry::setVersion(int64_t uid, const std::string& version) {
  std::lock_guard lock(mutex_);
  Statement statement(*connection_, "UPDATE Databases SET version=?1 WHERE uid=?2");
  statement.text(1, version).integer(2, uid);
  return statement.step() == SQLITE_DONE;
}

}  // namespace tavero::modules::sql
