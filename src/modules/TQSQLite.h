// The SQL module: Web SQL style databases for pages, one SQLite file each,
// encrypted with SQLCipher when the page gives a passphrase.
//
// openDatabase registers (or finds) the page's database by origin and name
// and checks its key; getVersion/setVersion read and change its version;
// createTransaction opens a connection of the transaction's own, which
// beginTransaction, executeStatement, commitTransaction and
// rollbackTransaction then use. Ids travel as decimal text. Only databases
// opened in this run are recognised; unknown ids get an empty answer.
//
// Keying a connection derives the key from the passphrase (tens of
// milliseconds). Connections of ended transactions are kept, keyed, for
// the next transaction on the same database with the same passphrase, so
// a database pays for the derivation once, not once per transaction.
//
// Thread rules: operations may run on several threads at once; all state
// is guarded.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/TQCallbackDelivery.h"
#include "bridge/TQW3CAction.h"
#include "modules/sql/SQLConnection.h"
#include "modules/sql/SQLDatabaseRegistry.h"

namespace tavero::modules {

class TQSQLite : public bridge::TQW3CAction {
 public:
  static constexpr std::string_view className = "TQSQLite";
  // Idle keyed connections kept per database, passphrase and mode.
  static constexpr size_t kIdleConnectionsKept = 4;
  static constexpr int kBusyTimeoutMs = 30000;

  // `databasesDirectory` holds the registry and the database files.
  TQSQLite(bridge::TQCallbackDelivery& callbacks, std::filesystem::path databasesDirectory);
  ~TQSQLite() override;

  void openDatabase(bridge::TQInvocation& call);
  void getVersion(bridge::TQInvocation& call);
  void setVersion(bridge::TQInvocation& call);
  void createTransaction(bridge::TQInvocation& call);
  void beginTransaction(bridge::TQInvocation& call);
  void commitTransaction(bridge::TQInvocation& call);
  void rollbackTransaction(bridge::TQInvocation& call);
  void executeStatement(bridge::TQInvocation& call);

  const std::filesystem::path& databasesDirectoryPath() const { return databasesDirectory_; }
  // The registry's version text of database `uid`, if any.
  std::optional<std::string> databaseVersionWithId(int64_t uid);
  // Keys `connection` (when the passphrase is not empty) and checks it can read.
  static bool keyDb(sql::SQLConnection& connection, std::string_view passphrase);

 private:
  struct Transaction {
    std::mutex mutex;  // one statement at a time on the connection
    std::unique_ptr<sql::SQLConnection> connection;
    std::string databaseId;
    std::string passphrase;
    bool readOnly;
  };
  struct PoolKey {
    std::string databaseId;
    std::string passphrase;
    bool readOnly;
    auto operator<=>(const PoolKey&) const = default;
  };

  std::optional<std::string> passphraseOf(const std::string& databaseId);
  std::shared_ptr<Transaction> transaction(const std::string& transactionId);
  std::shared_ptr<Transaction> endTransaction(const std::string& transactionId);
  std::unique_ptr<sql::SQLConnection> takeIdleConnection(const PoolKey& key);
  void keepIdleConnection(Transaction& transaction);
  std::filesystem::path databaseFile(const std::string& databaseId) const;

  bridge::TQCallbackDelivery& callbacks_;
  std::filesystem::path databasesDirectory_;
  const sql::SQLCipherLibrary* library_;
  std::unique_ptr<sql::SQLDatabaseRegistry> registry_;  // null: the module does nothing

  std::mutex stateMutex_;  // guards the maps and the counter below
  std::map<std::string, std::string> databasesMap_;  // database id text -> passphrase
  std::map<std::string, std::shared_ptr<Transaction>> transactionsMap_;
  int64_t lastTransactionUid_ = 0;
  std::map<PoolKey, std::vector<std::unique_ptr<sql::SQLConnection>>> idleConnections_;
};

}  // namespace tavero::modules
