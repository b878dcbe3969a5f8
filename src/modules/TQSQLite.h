// The SQL module: Web SQL style databases for pages, one SQLite file each,
// encrypted with SQLCipher when the page gives a passphrase.
//
// openDatabase registers (or finds) the page's database by origin and name
// and checks its key; getVersion/setVersion read and change its version;
// createTransaction opens a connection of the transaction's own, which
// beginTransaction, executeStatement, commitTransaction and
// rollbackTransaction then use. executeBatch does the work of several of
// these in one call (see there). Ids travel as decimal text. Only databases
// opened in this run are recognised, and a database or transaction id only
// by the origin that opened the database; other ids get an empty answer.
//
// Transactions do not outlive their page: when the document of the page
// that created one goes away (pageDocumentEnded), or when one stays idle
// (no call on it) for longer than the idle limit, the shell rolls it back,
// and later calls on it are answered with the reason.
//
// Keying a connection with a passphrase derives the file's key (tens of
// milliseconds); the derived key is kept, so a database pays for that once
// per run, not once per transaction (see DerivedKeyCache).
//
// Thread rules: operations may run on several threads at once; all state
// is guarded. No lock of the module is held while SQLite waits for a busy
// database: only the waiting transaction's own calls wait with it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/CallbackDelivery.h"
#include "bridge/TQW3CAction.h"
#include "modules/sql/DerivedKeyCache.h"
#include "modules/sql/SQLConnection.h"
#include "modules/sql/SQLDatabaseRegistry.h"
#include "modules/sql/SQLHousekeeper.h"
#include "modules/sql/SQLStatementRunner.h"
#include "modules/sql/SQLTransactionTable.h"

namespace tavero::modules {

class TQSQLite : public bridge::TQW3CAction {
 public:
  static constexpr std::string_view className = "TQSQLite";
  // How long a transaction's BEGIN (and its statements), or the key check of
  // openDatabase, wait for a database that another transaction holds.
  static constexpr int kBusyTimeoutMs = 30000;
  // A transaction with no call for this long is rolled back. Shorter than
  // the busy timeout, so a BEGIN waiting behind an abandoned transaction
  // gets its turn.
  static constexpr std::chrono::seconds kIdleLimit{20};
  // The largest text or blob a page statement may make or store.
  static constexpr int kMaxValueBytes = 64 << 20;
  // An answer this large has its memory given back to the system after.
  static constexpr size_t kLargeResultBytes = size_t{1} << 20;

  struct Options {
    std::chrono::milliseconds idleLimit = kIdleLimit;
    int busyTimeoutMs = kBusyTimeoutMs;
    // The time idleness is measured with (steady_clock::now when empty).
    std::function<std::chrono::steady_clock::time_point()> clock;
    size_t resultLimitBytes = sql::SQLStatementRunner::kResultLimitBytes;
    // The SQLCipher functions (the loaded library when null) and the key
    // derivation (PBKDF2 when empty): tests put failing ones in.
    const sql::SQLCipherLibrary* library = nullptr;
    sql::DerivedKeyCache::Derivation deriveKey;
  };

  // `databasesDirectory` holds the registry and the database files.
  TQSQLite(bridge::CallbackDelivery& callbacks, std::filesystem::path databasesDirectory);
  TQSQLite(bridge::CallbackDelivery& callbacks, std::filesystem::path databasesDirectory, Options options);
  ~TQSQLite() override;

  void openDatabase(bridge::Invocation& call);
  void getVersion(bridge::Invocation& call);
  void setVersion(bridge::Invocation& call);
  void createTransaction(bridge::Invocation& call);
  void beginTransaction(bridge::Invocation& call);
  void commitTransaction(bridge::Invocation& call);
  void rollbackTransaction(bridge::Invocation& call);
  void executeStatement(bridge::Invocation& call);
  // A transaction's statements in one call, so that a page pays one round
  // trip for what would be many:
  //   transactionId   the transaction; empty or absent: open a new one on
  //                   databaseId (readOnly as createTransaction) and begin it
  //   statements      [[sql, arguments, quiet], ...] (see SQLStatementBatch)
  //   version         checked as executeStatement checks it
  //   commit          "true": commit once every statement ran without error
  // Answers {transactionId, results: [one answer per statement run, as
  // executeStatement's but with "columns" for "rows" (see
  // SQLStatementRunner::Layout), null for a quiet one that succeeded], committed:
  // true | commitError: "..."}. Statements run in order; one failing does
  // not stop the rest (the page decides whether the transaction goes on).
  // Once the answers of a batch reach the result limit, the statements after
  // are not run and have no entry: the page sends them again. {error} when
  // the list is malformed (nothing runs), when the new transaction cannot be
  // made ("Could not create transaction: ...") or begun ("Could not begin
  // transaction: ...", and the transaction is gone), or, with the Web SQL
  // code, when the shell ended the transaction. Unknown ids, and ids of
  // another origin, get no answer.
  void executeBatch(bridge::Invocation& call);

  // Rolls back the transactions that page `pageName` created (on the
  // module's own thread, once no call is using them); calls on them from
  // now on are answered with the reason.
  void pageDocumentEnded(std::string_view pageName) override;
  // Rolls back the transactions idle for longer than the idle limit now
  // (the module's own thread does this regularly); returns how many.
  size_t rollBackIdleTransactions();

  const std::filesystem::path& databasesDirectoryPath() const { return databasesDirectory_; }
  // The registry's version text of database `uid`, if any.
  std::optional<std::string> databaseVersionWithId(int64_t uid);

 private:
  // A transaction with its mutex held, for the length of one call.
  struct Use {
    std::shared_ptr<sql::SQLTransaction> transaction;
    std::unique_lock<std::mutex> lock;
  };
  // The call's transaction ("transactionId"), held; nothing when there is
  // none, after answering with answerEnded(reason) when the shell ended it.
  std::optional<Use> use(bridge::Invocation& call, const std::function<void(const std::string&)>& answerEnded);
  // The same for transaction `id` of the page at `origin`.
  std::optional<Use> use(const std::string& id, const std::string& origin,
                         const std::function<void(const std::string&)>& answerEnded);

  // A transaction made for the call's database ("databaseId", "readOnly"):
  // its id, or `error` the page's reason it could not be made. Nothing when
  // the database is not one the caller opened in this run.
  struct Opened {
    std::string id;
    std::string error;
  };
  std::optional<Opened> openTransaction(bridge::Invocation& call);
  // Opens and begins a transaction for executeBatch: its id, or nothing
  // after answering the call (or leaving it unanswered for a database that
  // is not the caller's).
  std::optional<std::string> openAndBegin(bridge::Invocation& call);
  // Runs one page statement in `transaction`, after the checks every
  // statement gets. REQUIRES: the transaction's mutex held.
  sql::SQLStatementRunner::Answer runStatement(sql::SQLTransaction& transaction, std::string_view sql,
                                               const json::Value* arguments, bool versionMatches,
                                               sql::SQLStatementRunner::Layout layout);
  // Whether the call's "version" is empty or the database's version.
  bool versionMatches(const bridge::Invocation& call);
  // COMMIT, and the transaction ends: empty, or why it failed.
  // REQUIRES: the transaction's mutex held.
  std::string commit(const std::string& id, sql::SQLTransaction& transaction);

  // A transaction's connection, or why there is none.
  struct Connected {
    std::unique_ptr<sql::SQLConnection> connection;  // null when it cannot be used
    std::string error;                               // the page's reason, when null
    bool keyedWhileEmpty = false;  // the file had no salt yet when it was keyed
  };
  // A transaction's connection to `file`: keyed, bounded, under the page
  // policy. When keying or installing the policy fails, no connection (the
  // log says why): page SQL must not run unkeyed or unchecked.
  Connected connect(const std::filesystem::path& file, const std::string& passphrase, bool readOnly);
  // BEGIN (EXCLUSIVE for writers), waiting for the file up to the busy
  // timeout. Empty when it began, else the reason for the page.
  // REQUIRES: the transaction's mutex held.
  std::string begin(sql::SQLTransaction& transaction);
  // The origin identifier of the page that made `call`: databases belong to it.
  static std::string callerOrigin(const bridge::Invocation& call);
  // The passphrase this run checked for database `databaseId`, when the
  // database was opened by `origin`: a database id is nothing to others.
  std::optional<std::string> passphraseOf(const std::string& databaseId, const std::string& origin);
  std::filesystem::path databaseFile(const std::string& databaseId) const;
  // Keys `connection` on `file` (when the passphrase is not empty) and
  // checks it can read. Empty when it can, else the reason for the page.
  std::string keyDb(sql::SQLConnection& connection, const std::filesystem::path& file, const std::string& passphrase);
  // Nothing when the key cannot be derived (see DerivedKeyCache::keyFor).
  std::optional<std::string> keyFor(const std::filesystem::path& file, const std::string& passphrase);
  std::chrono::steady_clock::time_point now() const { return clock_(); }

  bridge::CallbackDelivery& callbacks_;
  std::filesystem::path databasesDirectory_;
  const sql::SQLCipherLibrary* library_;
  std::unique_ptr<sql::SQLDatabaseRegistry> registry_;  // null: the module does nothing
  sql::DerivedKeyCache keys_;
  const std::function<std::chrono::steady_clock::time_point()> clock_;
  const size_t resultLimitBytes_;
  const int busyTimeoutMs_;

  struct OpenedDatabase {
    std::string passphrase;  // verified against the file in this run
    std::string origin;      // the origin identifier that opened it
  };
  std::mutex stateMutex_;  // guards databasesMap_
  std::map<std::string, OpenedDatabase> databasesMap_;  // by database id text

  sql::SQLTransactionTable transactions_;
  sql::SQLHousekeeper housekeeper_;  // after transactions_, which it uses
};

}  // namespace tavero::modules
