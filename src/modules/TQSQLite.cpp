#include "modules/TQSQLite.h"

#include "bridge/ArgumentRules.h"
#include "log/Log.h"
#include "modules/OriginIdentifier.h"
#include "modules/sql/SQLStatementRunner.h"

namespace tavero::modules {

using bridge::TQInvocation;

namespace {

json::Value errorObject(const std::string& message) {
  json::Object error;
  error.append("error", message);
  return error;
}

// The low 32 bits of the page's number, read as a signed value.
int32_t estimatedSizeOf(const TQInvocation& call) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(call.longLong("estimatedSize"))));
}

}  // namespace

TQSQLite::TQSQLite(bridge::TQCallbackDelivery& callbacks, std::filesystem::path databasesDirectory)
    : callbacks_(callbacks), databasesDirectory_(std::move(databasesDirectory)), library_(sql::SQLCipherLibrary::get()) {
  if (library_) registry_ = sql::SQLDatabaseRegistry::open(*library_, databasesDirectory_);
  if (!registry_) log::error("SQL: databases are unavailable in this run");
  addOperation("openDatabase", [this](TQInvocation& call) { openDatabase(call); });
  addOperation("getVersion", [this](TQInvocation& call) { getVersion(call); });
  addOperation("setVersion", [this](TQInvocation& call) { setVersion(call); });
  addOperation("createTransaction", [this](TQInvocation& call) { createTransaction(call); });
  addOperation("beginTransaction", [this](TQInvocation& call) { beginTransaction(call); });
  addOperation("commitTransaction", [this](TQInvocation& call) { commitTransaction(call); });
  addOperation("rollbackTransaction", [this](TQInvocation& call) { rollbackTransaction(call); });
  addOperation("executeStatement", [this](TQInvocation& call) { executeStatement(call); });
}

TQSQLite::~TQSQLite() = default;

std::filesystem::path TQSQLite::databaseFile(const std::string& databaseId) const {
  return databasesDirectory_ / (std::to_string(bridge::longLongValue(databaseId)) + ".db");
}

bool TQSQLite::keyDb(sql::SQLConnection& connection, const std::filesystem::path& file,
                     const std::string& passphrase) {
  if (!connection.key(keys_.keyFor(file, passphrase))) return false;
  return connection.exec("SELECT count(*) FROM sqlite_master");
}

void TQSQLite::openDatabase(TQInvocation& call) {
  if (!registry_) return;
  const std::string name(call.text("name"));
  const std::string requestedVersion(call.text("version"));
  const std::string displayName(call.text("displayName"));
  const std::string passphrase(call.text("passphrase"));
  const int32_t estimatedSize = estimatedSizeOf(call);
  const int creationCallback = call.integer("creationCallback");
  const std::string origin = originIdentifier(call.text("__source"));

  auto found = registry_->lookUp(origin, name);
  int64_t uid = 0;
  std::string version;
  bool created = false;
  if (found.outcome == sql::SQLDatabaseRegistry::Outcome::notFound) {
    // A database made with a creation callback starts without a version;
    // the callback sets one. Without a version key the version is empty.
    version = creationCallback >= 1 ? std::string() : requestedVersion;
    auto registered = registry_->registerDatabase(origin, name, version, displayName, estimatedSize);
    if (!registered) return;
    uid = *registered;
    created = true;
  } else if (found.outcome == sql::SQLDatabaseRegistry::Outcome::found) {
    uid = found.entry.uid;
    version = found.entry.version.value_or("");
    if (!requestedVersion.empty() && requestedVersion != version) {
      call.setResult(errorObject("Unable to open database: version mismatch"));
      return;
    }
    if (!registry_->refresh(uid, displayName, estimatedSize)) return;
  } else {
    return;
  }
  if (uid <= 0) return;

  const std::string id = std::to_string(uid);
  const std::filesystem::path file = databaseFile(id);
  auto connection = sql::SQLConnection::open(*library_, file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  if (!connection->isOpen() || !keyDb(*connection, file, passphrase)) {
    std::string reason = connection->errorCode() != 0 ? connection->errorMessage() : "incorrect passphrase";
    call.setResult(errorObject("Unable to open database: " + reason));
    return;
  }
  {
    std::lock_guard lock(stateMutex_);
    databasesMap_[id] = passphrase;
  }
  json::Object result;
  result.append("id", id);
  result.append("version", version);
  call.setResult(std::move(result));
  if (created && creationCallback >= 1) callbacks_.invokeCallback(creationCallback, std::nullopt);
}

std::optional<std::string> TQSQLite::passphraseOf(const std::string& databaseId) {
  std::lock_guard lock(stateMutex_);
  auto it = databasesMap_.find(databaseId);
  if (it == databasesMap_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> TQSQLite::databaseVersionWithId(int64_t uid) {
  return registry_ ? registry_->version(uid) : std::nullopt;
}

void TQSQLite::getVersion(TQInvocation& call) {
  const std::string id(call.text("databaseId"));
  if (!registry_ || !passphraseOf(id)) return;
  if (auto version = databaseVersionWithId(bridge::longLongValue(id))) call.setResult(*version);
}

void TQSQLite::setVersion(TQInvocation& call) {
  const std::string id(call.text("databaseId"));
  if (!registry_ || !passphraseOf(id)) return;
  if (registry_->setVersion(bridge::longLongValue(id), std::string(call.text("version")))) call.setResult(true);
}

void TQSQLite::createTransaction(TQInvocation& call) {
  const std::string databaseId(call.text("databaseId"));
  const bool readOnly = call.flag("readOnly");
  const int success = call.integer("success");
  const int failure = call.integer("failure");
  auto passphrase = passphraseOf(databaseId);
  if (!registry_ || !passphrase) return;

  const std::filesystem::path file = databaseFile(databaseId);
  auto connection = sql::SQLConnection::open(*library_, file, readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE);
  if (!connection->isOpen()) {
    callbacks_.invokeCallback(failure, json::Value("Could not create transaction: " + connection->errorMessage()));
    return;
  }
  connection->key(keys_.keyFor(file, *passphrase));
  connection->installPagePolicy();
  auto transaction = std::make_shared<Transaction>();
  transaction->connection = std::move(connection);
  std::string id;
  {
    std::lock_guard lock(stateMutex_);
    id = std::to_string(++lastTransactionUid_);
    transactionsMap_[id] = transaction;
  }
  callbacks_.invokeCallback(success, json::Value(id));
}

std::shared_ptr<TQSQLite::Transaction> TQSQLite::transaction(const std::string& transactionId) {
  std::lock_guard lock(stateMutex_);
  auto it = transactionsMap_.find(transactionId);
  return it == transactionsMap_.end() ? nullptr : it->second;
}

std::shared_ptr<TQSQLite::Transaction> TQSQLite::endTransaction(const std::string& transactionId) {
  std::lock_guard lock(stateMutex_);
  auto it = transactionsMap_.find(transactionId);
  if (it == transactionsMap_.end()) return nullptr;
  auto transaction = it->second;
  transactionsMap_.erase(it);
  return transaction;
}

void TQSQLite::beginTransaction(TQInvocation& call) {
  auto found = registry_ ? transaction(std::string(call.text("transactionId"))) : nullptr;
  if (!found) return;
  std::lock_guard lock(found->mutex);
  sql::SQLConnection& connection = *found->connection;
  connection.library().busy_timeout(connection.handle(), kBusyTimeoutMs);
  bool readOnly = connection.library().db_readonly(connection.handle(), nullptr) == 1;
  if (!connection.exec(readOnly ? "BEGIN" : "BEGIN EXCLUSIVE"))
    call.setResult("Could not begin transaction: " + connection.errorMessage());
}

void TQSQLite::commitTransaction(TQInvocation& call) {
  const std::string id(call.text("transactionId"));
  auto found = registry_ ? transaction(id) : nullptr;
  if (!found) return;
  std::unique_lock lock(found->mutex);
  if (!found->connection->exec("COMMIT")) {
    call.setResult("Could not commit transaction: " + found->connection->errorMessage());
    return;
  }
  // Only the caller that removes the entry ends the transaction: a second
  // commit racing this one finds nothing.
  if (endTransaction(id)) found->connection.reset();
}

void TQSQLite::rollbackTransaction(TQInvocation& call) {
  const std::string id(call.text("transactionId"));
  auto found = registry_ ? endTransaction(id) : nullptr;
  if (!found) return;
  std::lock_guard lock(found->mutex);
  sql::SQLConnection& connection = *found->connection;
  while (sqlite3_stmt* statement = connection.library().next_stmt(connection.handle(), nullptr))
    connection.library().finalize(statement);
  connection.exec("ROLLBACK");
  found->connection.reset();
}

void TQSQLite::executeStatement(TQInvocation& call) {
  auto found = registry_ ? transaction(std::string(call.text("transactionId"))) : nullptr;
  if (!found) return;
  const std::string version(call.text("version"));
  if (!version.empty() && databaseVersionWithId(bridge::longLongValue(call.text("databaseId"))) != version) {
    call.setResult(errorObject("Could not execute statement: version mismatch"));
    return;
  }
  const std::string_view sql = call.text("sqlStatement");
  if (!call.arguments().contains("sqlStatement") || sql::SQLStatementRunner::isTransactionControl(sql)) {
    call.setResult(errorObject("Could not execute statement: not authorized"));
    return;
  }
  std::lock_guard lock(found->mutex);
  call.setResult(sql::SQLStatementRunner::run(*found->connection, sql, call.arguments().find("arguments")));
}

}  // namespace tavero::modules
