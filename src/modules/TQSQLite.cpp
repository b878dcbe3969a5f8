#include "modules/TQSQLite.h"

#include "base/PrivateFiles.h"
#include "bridge/ArgumentRules.h"
#include "log/Log.h"
#include "log/RefusalLog.h"
#include "modules/OriginIdentifier.h"
#include "modules/sql/SQLStatementBatch.h"

namespace tavero::modules {

using bridge::Invocation;
using sql::SQLStatementRunner;

namespace {

json::Value errorObject(const std::string& message) {
  json::Object error;
  error.append("error", message);
  return error;
}

// The low 32 bits of the page's number, read as a signed value.
int32_t estimatedSizeOf(const Invocation& call) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(call.longLong("estimatedSize"))));
}

// What a page hears about a database its connection cannot be made safe
// for: the answer SQLite gives for a file it cannot open.
constexpr const char* kCannotUse = "unable to open database file";

constexpr const char* kPageWentAway =
    "the transaction was rolled back because the page that created it went away";

}  // namespace

TQSQLite::TQSQLite(bridge::CallbackDelivery& callbacks, std::filesystem::path databasesDirectory)
    : TQSQLite(callbacks, std::move(databasesDirectory), Options{}) {}

TQSQLite::TQSQLite(bridge::CallbackDelivery& callbacks, std::filesystem::path databasesDirectory, Options options)
    : callbacks_(callbacks),
      databasesDirectory_(std::move(databasesDirectory)),
      library_(options.library ? options.library : sql::SQLCipherLibrary::get()),
      keys_(options.deriveKey ? std::move(options.deriveKey) : sql::DerivedKeyCache::Derivation(&sql::DerivedKeyCache::rawKey)),
      clock_(options.clock ? std::move(options.clock) : [] { return std::chrono::steady_clock::now(); }),
      resultLimitBytes_(options.resultLimitBytes),
      busyTimeoutMs_(options.busyTimeoutMs),
      housekeeper_(transactions_, options.idleLimit, clock_) {
  if (library_) registry_ = sql::SQLDatabaseRegistry::open(*library_, databasesDirectory_);
  if (!registry_) log::error("SQL: databases are unavailable in this run");
  addOperation("openDatabase", [this](Invocation& call) { openDatabase(call); });
  addOperation("getVersion", [this](Invocation& call) { getVersion(call); });
  addOperation("setVersion", [this](Invocation& call) { setVersion(call); });
  addOperation("createTransaction", [this](Invocation& call) { createTransaction(call); });
  addOperation("beginTransaction", [this](Invocation& call) { beginTransaction(call); });
  addOperation("commitTransaction", [this](Invocation& call) { commitTransaction(call); });
  addOperation("rollbackTransaction", [this](Invocation& call) { rollbackTransaction(call); });
  addOperation("executeStatement", [this](Invocation& call) { executeStatement(call); });
  addOperation("executeBatch", [this](Invocation& call) { executeBatch(call); });
}

TQSQLite::~TQSQLite() {
  for (auto& transaction : transactions_.removeAll()) {
    std::lock_guard use(transaction->mutex);
    transaction->end("");
  }
}

std::filesystem::path TQSQLite::databaseFile(const std::string& databaseId) const {
  return databasesDirectory_ / (std::to_string(bridge::longLongValue(databaseId)) + ".db");
}

std::optional<std::string> TQSQLite::keyFor(const std::filesystem::path& file, const std::string& passphrase) {
  using KeyCheck = sql::DerivedKeyCache::KeyCheck;
  return keys_.keyFor(file, passphrase, [&](const std::string& key) {
    // A connection of its own, without busy timeout: a file another
    // transaction holds cannot tell now, and then the passphrase serves.
    auto probe = sql::SQLConnection::open(*library_, file, SQLITE_OPEN_READONLY);
    if (!probe->isOpen() || !probe->key(key)) return KeyCheck::unknown;
    if (probe->exec("SELECT count(*) FROM sqlite_master")) return KeyCheck::opens;
    return probe->errorCode() == SQLITE_NOTADB ? KeyCheck::doesNotOpen : KeyCheck::unknown;
  });
}

std::string TQSQLite::keyDb(sql::SQLConnection& connection, const std::filesystem::path& file,
                            const std::string& passphrase) {
  std::optional<std::string> key = keyFor(file, passphrase);
  if (!key) {
    log::error("SQL: cannot open " + file.filename().string() + ": no key could be derived from its passphrase");
    return kCannotUse;
  }
  if (connection.key(*key) && connection.exec("SELECT count(*) FROM sqlite_master")) return {};
  return connection.errorCode() != 0 ? connection.errorMessage() : "incorrect passphrase";
}

void TQSQLite::openDatabase(Invocation& call) {
  if (!registry_) return;
  const std::string name(call.text("name"));
  const std::string requestedVersion(call.text("version"));
  const std::string displayName(call.text("displayName"));
  const std::string passphrase(call.text("passphrase"));
  const int32_t estimatedSize = estimatedSizeOf(call);
  const int creationCallback = call.integer("creationCallback");
  const std::string origin = callerOrigin(call);

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
  // A passphrase this run already checked against the file needs no new
  // check, which would have to wait while a transaction holds the file.
  if (passphraseOf(id, origin) != passphrase) {
    const std::filesystem::path file = databaseFile(id);
    // Made here, private to the user; SQLite's journals take its mode.
    if (std::error_code ec = base::createPrivateFile(file)) {
      call.setResult(errorObject("Unable to open database: " + ec.message()));
      return;
    }
    auto connection = sql::SQLConnection::open(*library_, file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (connection->isOpen()) library_->busy_timeout(connection->handle(), busyTimeoutMs_);
    std::string failure = connection->isOpen() ? keyDb(*connection, file, passphrase) : connection->errorMessage();
    if (!failure.empty()) {
      call.setResult(errorObject("Unable to open database: " + failure));
      return;
    }
    std::lock_guard lock(stateMutex_);
    databasesMap_[id] = {passphrase, origin};
  }
  json::Object result;
  result.append("id", id);
  result.append("version", version);
  call.setResult(std::move(result));
  if (created && creationCallback >= 1) callbacks_.invokeCallback(creationCallback, std::nullopt);
}

std::string TQSQLite::callerOrigin(const Invocation& call) { return originIdentifier(call.text("__source")); }

std::optional<std::string> TQSQLite::passphraseOf(const std::string& databaseId, const std::string& origin) {
  std::lock_guard lock(stateMutex_);
  auto it = databasesMap_.find(databaseId);
  if (it == databasesMap_.end() || it->second.origin != origin) return std::nullopt;
  return it->second.passphrase;
}

std::optional<std::string> TQSQLite::databaseVersionWithId(int64_t uid) {
  return registry_ ? registry_->version(uid) : std::nullopt;
}

void TQSQLite::getVersion(Invocation& call) {
  const std::string id(call.text("databaseId"));
  if (!registry_ || !passphraseOf(id, callerOrigin(call))) return;
  if (auto version = databaseVersionWithId(bridge::longLongValue(id))) call.setResult(*version);
}

void TQSQLite::setVersion(Invocation& call) {
  const std::string id(call.text("databaseId"));
  if (!registry_ || !passphraseOf(id, callerOrigin(call))) return;
  if (registry_->setVersion(bridge::longLongValue(id), std::string(call.text("version")))) call.setResult(true);
}

TQSQLite::Connected TQSQLite::connect(const std::filesystem::path& file, const std::string& passphrase,
                                      bool readOnly) {
  auto connection = sql::SQLConnection::open(*library_, file, readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE);
  if (!connection->isOpen()) return {nullptr, connection->errorMessage()};
  auto refuse = [&](const std::string& why) {
    log::error("SQL: no page SQL on " + file.filename().string() + ": " + why);
    return Connected{nullptr, kCannotUse};
  };
  const bool keyedWhileEmpty = !passphrase.empty() && sql::DerivedKeyCache::saltOf(file).empty();
  std::optional<std::string> key = keyFor(file, passphrase);
  if (!key) return refuse("no key could be derived from its passphrase");
  if (!connection->key(*key)) return refuse("SQLCipher refused its key (" + connection->errorMessage() + ")");
  library_->limit(connection->handle(), SQLITE_LIMIT_LENGTH, kMaxValueBytes);
  if (!connection->installPagePolicy()) return refuse("the page SQL policy could not be installed");
  return {std::move(connection), {}, keyedWhileEmpty};
}

std::optional<TQSQLite::Opened> TQSQLite::openTransaction(Invocation& call) {
  const std::string databaseId(call.text("databaseId"));
  const bool readOnly = call.flag("readOnly");
  const std::string origin = callerOrigin(call);
  auto passphrase = passphraseOf(databaseId, origin);
  if (!registry_ || !passphrase) return std::nullopt;

  const std::filesystem::path file = databaseFile(databaseId);
  Connected connected = connect(file, *passphrase, readOnly);
  if (!connected.connection) return Opened{{}, connected.error};
  auto transaction = std::make_shared<sql::SQLTransaction>(std::move(connected.connection), file, *passphrase,
                                                           readOnly, call.pageName(), origin, now());
  transaction->keyedWhileEmpty = connected.keyedWhileEmpty;
  std::string id = transactions_.add(std::move(transaction));
  housekeeper_.transactionAdded();
  return Opened{std::move(id), {}};
}

void TQSQLite::createTransaction(Invocation& call) {
  auto opened = openTransaction(call);
  if (!opened) return;
  if (!opened->error.empty())
    callbacks_.invokeCallback(call.integer("failure"), json::Value("Could not create transaction: " + opened->error));
  else
    callbacks_.invokeCallback(call.integer("success"), json::Value(opened->id));
}

std::optional<TQSQLite::Use> TQSQLite::use(Invocation& call,
                                             const std::function<void(const std::string&)>& answerEnded) {
  return use(std::string(call.text("transactionId")), callerOrigin(call), answerEnded);
}

std::optional<TQSQLite::Use> TQSQLite::use(const std::string& id, const std::string& origin,
                                             const std::function<void(const std::string&)>& answerEnded) {
  if (!registry_) return std::nullopt;
  auto transaction = transactions_.find(id);
  if (transaction && transaction->origin != origin) return std::nullopt;
  if (!transaction) {
    if (auto reason = transactions_.endedReason(id)) answerEnded(*reason);
    return std::nullopt;
  }
  std::unique_lock lock(transaction->mutex);
  if (!transaction->connection) {  // ended while this call waited for it
    answerEnded(transaction->endedBecause);
    return std::nullopt;
  }
  return Use{std::move(transaction), std::move(lock)};
}

std::string TQSQLite::begin(sql::SQLTransaction& transaction) {
  sql::SQLConnection& connection = *transaction.connection;
  library_->busy_timeout(connection.handle(), busyTimeoutMs_);
  bool began = connection.exec(transaction.readOnly ? "BEGIN" : "BEGIN EXCLUSIVE");
  std::string failure = began ? std::string() : connection.errorMessage();
  if (!transaction.keyedWhileEmpty) return failure;
  // Once the transaction holds the file (a read takes its shared lock), the
  // file is what it will be for the transaction. If another transaction
  // gave it its salt meanwhile, this connection's own salt does not fit
  // (taking the lock reads the file, and fails): connect again, now keyed
  // from the file.
  if (began && transaction.readOnly) connection.exec("SELECT count(*) FROM sqlite_master");
  if (sql::DerivedKeyCache::saltOf(transaction.file).empty()) return failure;
  if (began) connection.exec("ROLLBACK");
  Connected fresh = connect(transaction.file, transaction.passphrase, transaction.readOnly);
  if (!fresh.connection) return fresh.error;
  transaction.connection = std::move(fresh.connection);
  transaction.keyedWhileEmpty = fresh.keyedWhileEmpty;
  return begin(transaction);
}

void TQSQLite::beginTransaction(Invocation& call) {
  auto held = use(call, [&](const std::string& reason) { call.setResult("Could not begin transaction: " + reason); });
  if (!held) return;
  sql::SQLTransaction& transaction = *held->transaction;
  if (std::string failure = begin(transaction); !failure.empty()) {
    call.setResult("Could not begin transaction: " + failure);
    // A second BEGIN fails too, but inside a transaction that did begin.
    transaction.beginFailed = library_->get_autocommit(transaction.connection->handle()) != 0;
  } else {
    transaction.beginFailed = false;
  }
  transaction.began = !transaction.beginFailed;
  transaction.lastUsed = now();
}

std::string TQSQLite::commit(const std::string& id, sql::SQLTransaction& transaction) {
  transaction.lastUsed = now();
  if (!transaction.connection->exec("COMMIT")) return transaction.connection->errorMessage();
  // Only the caller that removes the entry ends the transaction: a second
  // commit waiting for this one finds nothing.
  transactions_.remove(id);
  transaction.connection.reset();
  return {};
}

void TQSQLite::commitTransaction(Invocation& call) {
  auto held = use(call, [&](const std::string& reason) { call.setResult("Could not commit transaction: " + reason); });
  if (!held) return;
  if (std::string failure = commit(std::string(call.text("transactionId")), *held->transaction); !failure.empty())
    call.setResult("Could not commit transaction: " + failure);
}

void TQSQLite::rollbackTransaction(Invocation& call) {
  const std::string id(call.text("transactionId"));
  if (!registry_) return;
  if (auto found = transactions_.find(id); found && found->origin != callerOrigin(call)) return;
  auto transaction = transactions_.remove(id);
  if (!transaction) {
    transactions_.forgetEnded(id);
    return;
  }
  std::lock_guard lock(transaction->mutex);
  transaction->end("");
}

bool TQSQLite::versionMatches(const Invocation& call) {
  const std::string version(call.text("version"));
  return version.empty() || databaseVersionWithId(bridge::longLongValue(call.text("databaseId"))) == version;
}

SQLStatementRunner::Answer TQSQLite::runStatement(sql::SQLTransaction& transaction, std::string_view sql,
                                                  const json::Value* arguments, bool versionMatches,
                                                  SQLStatementRunner::Layout layout) {
  transaction.lastUsed = now();
  if (!versionMatches)
    return {SQLStatementRunner::errorAnswer("version mismatch", SQLStatementRunner::kVersionError)};
  if (SQLStatementRunner::isTransactionControl(sql)) {
    // Refused like any statement the page may not run: SYNTAX_ERR.
    return {SQLStatementRunner::errorAnswer("not authorized", SQLStatementRunner::kSyntaxError)};
  }
  if (transaction.beginFailed) {
    // Run now, the statement would commit on its own: a later rollback
    // could not undo it.
    return {SQLStatementRunner::errorAnswer("the transaction could not begin", SQLStatementRunner::kDatabaseError)};
  }
  if (transaction.began && library_->get_autocommit(transaction.connection->handle()) != 0) {
    // An error made SQLite roll the transaction back: pages send statements
    // ahead of the answers, and these must not commit one by one.
    return {SQLStatementRunner::errorAnswer("the transaction was rolled back after an error",
                                            SQLStatementRunner::kDatabaseError)};
  }
  auto answer = SQLStatementRunner::run(*transaction.connection, sql, arguments, resultLimitBytes_, layout);
  transaction.lastUsed = now();
  return answer;
}

void TQSQLite::executeStatement(Invocation& call) {
  auto held = use(call, [&](const std::string& reason) {
    call.setResult(SQLStatementRunner::errorAnswer(reason, SQLStatementRunner::kDatabaseError));
  });
  if (!held) return;
  const bool matches = versionMatches(call);
  if (matches && !call.arguments().contains("sqlStatement")) {
    call.setResult(SQLStatementRunner::errorAnswer("not authorized", SQLStatementRunner::kSyntaxError));
    return;
  }
  auto answer = runStatement(*held->transaction, call.text("sqlStatement"), call.arguments().find("arguments"), matches,
                             SQLStatementRunner::Layout::rows);
  if (answer.resultBytes >= kLargeResultBytes) housekeeper_.releaseMemorySoon();
  call.setResult(std::move(answer.value));
}

std::optional<std::string> TQSQLite::openAndBegin(Invocation& call) {
  auto opened = openTransaction(call);
  if (!opened) return std::nullopt;
  if (!opened->error.empty()) {
    call.setResult(errorObject("Could not create transaction: " + opened->error));
    return std::nullopt;
  }
  auto transaction = transactions_.find(opened->id);
  if (!transaction) return opened->id;  // ended already: using it answers why
  std::lock_guard lock(transaction->mutex);
  if (!transaction->connection) return opened->id;
  if (std::string failure = begin(*transaction); !failure.empty()) {
    // Nothing of it is the page's yet: it ends here.
    if (transactions_.remove(opened->id)) transaction->end("");
    call.setResult(errorObject("Could not begin transaction: " + failure));
    return std::nullopt;
  }
  transaction->began = true;
  return opened->id;
}

void TQSQLite::executeBatch(Invocation& call) {
  if (!registry_) return;
  auto read = sql::SQLStatementBatch::read(call.arguments().find("statements"));
  if (auto* refusal = std::get_if<std::string>(&read)) {
    log::refusal("SQL: refused a batch of statements: " + *refusal);
    call.setResult(errorObject("Could not execute statements: " + *refusal));
    return;
  }
  const auto& statements = std::get<std::vector<sql::BatchStatement>>(read);
  std::string id(call.text("transactionId"));
  if (id.empty()) {
    auto opened = openAndBegin(call);
    if (!opened) return;
    id = std::move(*opened);
  }
  auto held = use(id, callerOrigin(call), [&](const std::string& reason) {
    call.setResult(SQLStatementRunner::errorAnswer(reason, SQLStatementRunner::kDatabaseError));
  });
  if (!held) return;
  sql::SQLTransaction& transaction = *held->transaction;
  const bool matches = versionMatches(call);

  json::Array results;
  results.reserve(statements.size());
  size_t answered = 0;
  bool failed = false;
  for (const auto& statement : statements) {
    // At least one statement runs, so that every batch makes progress.
    if (!results.empty() && answered >= resultLimitBytes_) break;
    auto answer = runStatement(transaction, statement.sql, statement.arguments, matches,
                               SQLStatementRunner::Layout::columns);
    answered += answer.resultBytes;
    const bool statementFailed = answer.value.isObject() && answer.value.asObject().contains("error");
    failed = failed || statementFailed;
    results.push_back(statement.quiet && !statementFailed ? json::Value() : std::move(answer.value));
  }
  if (answered >= kLargeResultBytes) housekeeper_.releaseMemorySoon();

  json::Object result;
  result.append("transactionId", id);
  const bool allRan = results.size() == statements.size();
  result.append("results", std::move(results));
  if (call.flag("commit") && allRan && !failed) {
    if (std::string failure = commit(id, transaction); failure.empty())
      result.append("committed", true);
    else
      result.append("commitError", "Could not commit transaction: " + failure);
  }
  call.setResult(std::move(result));
}

void TQSQLite::pageDocumentEnded(std::string_view pageName) {
  auto ended = transactions_.removePage(pageName, kPageWentAway);
  if (ended.empty()) return;
  log::info("SQL: rolling back " + std::to_string(ended.size()) + " transaction(s) of page \"" +
            std::string(pageName) + "\", whose document went away");
  housekeeper_.endLater(std::move(ended), kPageWentAway);
}

size_t TQSQLite::rollBackIdleTransactions() { return housekeeper_.endIdleTransactions(); }

}  // namespace tavero::modules
