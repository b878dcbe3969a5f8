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
// Keying a connection with a passphrase derives the file's key (tens of
// milliseconds); the derived key is kept, so a database pays for that once
// per run, not once per transaction (see DerivedKeyCache).
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
#include "modules/sql/DerivedKeyCache.h"
#include "modules/sql/SQLConnection.h"
#include "modules/sql/SQLDatabaseRegistry.h"

namespace tavero::modules {

class TQSQLite : public bridge::TQW3CAction {
 public:
  static constexpr std::string_view className = "TQSQLite";
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
  // Keys `connection` on `file` (when the passphrase is not empty) and
  // checks it can read.
  bool keyDb(sql::SQLConnection& connection, const std::filesystem::path& file, const std::string& passphrase);

 private:
  struct Transaction {
    std::mutex mutex;  // one statement at a time on the connection
    std::unique_ptr<sql::SQLConnection> connection;
  };

  std::optional<std::string> passphraseOf(const std::string& databaseId);
  std::shared_ptr<Transaction> transaction(const std::string& transactionId);
  std::shared_ptr<Transaction> endTransaction(const std::string& transactionId);
  std::filesystem::path databaseFile(const std::string& databaseId) const;

  bridge::TQCallbackDelivery& callbacks_;
  std::filesystem::path databasesDirectory_;
  const sql::SQLCipherLibrary* library_;
  std::unique_ptr<sql::SQLDatabaseRegistry> registry_;  // null: the module does nothing
  sql::DerivedKeyCache keys_;

  std::mutex stateMutex_;  // guards the maps and the counter below
  std::map<std::string, std::string> databasesMap_;  // database id text -> passphrase
  std::map<std::string, std::shared_ptr<Transaction>> transactionsMap_;
  int64_t lastTransactionUid_ = 0;
};

}  // namespace tavero::modules
