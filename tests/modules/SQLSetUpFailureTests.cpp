// A transaction's connection must be keyed and under the page policy before
// any page SQL runs on it. When a step of that set-up fails (SQLCipher
// refuses the key, the authorizer is not installed, the key cannot be
// derived), the page gets the answer for a database that cannot be opened,
// the log says why, and no statement runs.
#include <atomic>
#include <fstream>
#include <string_view>

#include "log/Log.h"
#include "modules/SQLiteFixture.h"

namespace tavero::modules {
namespace {

using sql::SQLCipherLibrary;

// Switches for the failing library below; tests set them after the steps
// that must still succeed.
std::atomic<bool> keyFails{false};
std::atomic<bool> authorizerFails{false};
std::atomic<bool> derivationFails{false};

int failingKey(sqlite3* db, const void* key, int bytes) {
  if (keyFails) return SQLITE_ERROR;
  return SQLCipherLibrary::get()->key(db, key, bytes);
}

// Removing the authorizer still works, so connections close as usual.
int failingSetAuthorizer(sqlite3* db, int (*callback)(void*, int, const char*, const char*, const char*, const char*),
                         void* data) {
  if (authorizerFails && callback) return SQLITE_MISUSE;
  return SQLCipherLibrary::get()->set_authorizer(db, callback, data);
}

const SQLCipherLibrary* failingLibrary() {
  static const SQLCipherLibrary library = [] {
    SQLCipherLibrary copy = *SQLCipherLibrary::get();
    copy.key = &failingKey;
    copy.set_authorizer = &failingSetAuthorizer;
    return copy;
  }();
  return &library;
}

class SQLSetUpFailure : public SQLite {
 protected:
  void SetUp() override {
    ASSERT_NE(SQLCipherLibrary::get(), nullptr);
    keyFails = authorizerFails = derivationFails = false;
    log::setSink([this](log::Level, std::string_view line) {
      std::lock_guard lock(logMutex_);
      logged_ += std::string(line) + "\n";
    });
    SQLite::SetUp();
  }
  void TearDown() override {
    SQLite::TearDown();
    log::setSink({});
    keyFails = authorizerFails = derivationFails = false;
  }
  TQSQLite::Options options() override {
    TQSQLite::Options options;
    options.library = failingLibrary();
    options.deriveKey = [](const std::string& passphrase, const std::string& salt) -> std::optional<std::string> {
      if (derivationFails) return std::nullopt;
      return sql::DerivedKeyCache::rawKey(passphrase, salt);
    };
    return options;
  }
  bool loggedLine(std::string_view part) {
    std::lock_guard lock(logMutex_);
    return logged_.find(part) != std::string::npos;
  }
  // A database "1" with table s holding one row, encrypted with `passphrase`.
  void makeDatabase(const std::string& passphrase) {
    ASSERT_EQ(field(open("d", {{"passphrase", passphrase}}), "id"), "1");
    std::string id = transaction("1");
    ASSERT_FALSE(begin(id));
    ASSERT_EQ(field(run(id, "CREATE TABLE s (v)"), "error"), "<none>");
    ASSERT_EQ(field(run(id, "INSERT INTO s VALUES (1)"), "error"), "<none>");
    ASSERT_FALSE(commit(id));
  }
  // The failure callback's text for a new transaction on database "1".
  std::string refusedTransaction() {
    std::string id = transaction("1");
    return id.starts_with("<failed: ") ? id : "<made " + id + ">";
  }

  std::mutex logMutex_;
  std::string logged_;
};

constexpr const char* kRefused = "<failed: \"Could not create transaction: unable to open database file\">";

TEST_F(SQLSetUpFailure, RefusedKeyOnANewTransactionsConnectionRefusesTheTransaction) {
  makeDatabase("secret");
  keyFails = true;
  EXPECT_EQ(refusedTransaction(), kRefused);
  EXPECT_TRUE(loggedLine("SQLCipher refused its key")) << logged_;
  keyFails = false;
  std::string id = transaction("1");
  ASSERT_FALSE(begin(id));
  EXPECT_EQ(rows(run(id, "SELECT count(*) FROM s")), "[[1]]");
}

TEST_F(SQLSetUpFailure, RefusedKeyWhenBeginReconnectsLeavesTheTransactionUnusable) {
  // Made before the file has its salt, `late` reconnects at BEGIN once
  // another transaction gave the file one; that reconnection's key fails.
  ASSERT_EQ(field(open("d", {{"passphrase", "secret"}}), "id"), "1");
  std::string late = transaction("1");
  std::string writer = transaction("1");
  ASSERT_FALSE(begin(writer));
  run(writer, "CREATE TABLE s (v)");
  ASSERT_FALSE(commit(writer));
  keyFails = true;
  EXPECT_EQ(text(begin(late)), "\"Could not begin transaction: unable to open database file\"");
  EXPECT_EQ(field(run(late, "INSERT INTO s VALUES (1)"), "error"),
            "Could not execute statement: the transaction could not begin");
  EXPECT_TRUE(loggedLine("SQLCipher refused its key")) << logged_;
}

TEST_F(SQLSetUpFailure, AuthorizerNotInstalledRefusesPageSQLOnPlainAndEncryptedDatabases) {
  for (const std::string passphrase : {"", "secret"}) {
    SCOPED_TRACE("passphrase \"" + passphrase + "\"");
    TearDown();
    SetUp();
    makeDatabase(passphrase);
    authorizerFails = true;
    EXPECT_EQ(refusedTransaction(), kRefused);
    EXPECT_TRUE(loggedLine("cannot install the page SQL authorizer")) << logged_;
    EXPECT_TRUE(loggedLine("the page SQL policy could not be installed")) << logged_;
  }
}

TEST_F(SQLSetUpFailure, FailedKeyDerivationRefusesTransactionsAndOpening) {
  makeDatabase("secret");  // keyed with the passphrase itself while the file had no salt
  derivationFails = true;
  EXPECT_EQ(refusedTransaction(), kRefused);
  EXPECT_TRUE(loggedLine("no key could be derived")) << logged_;

  // A new run checks the passphrase against the file when opening.
  sqlite_ = std::make_unique<TQSQLite>(callbacks_, folder_, options());
  EXPECT_EQ(text(open("d", {{"passphrase", "secret"}})), "{ \"error\" : \"Unable to open database: unable to open database file\"}");
}

TEST(DerivedKeyCache, FailedDerivationGivesNoKeyAndTriesNothingOnTheFile) {
  fs::path file = fs::temp_directory_path() / ("tavero-derive-" + std::to_string(::getpid()) + ".db");
  {
    std::ofstream out(file, std::ios::binary);
    out << std::string(sql::DerivedKeyCache::kSaltBytes, '\x5a') << "rest of the file";
  }
  sql::DerivedKeyCache cache([](const std::string&, const std::string&) { return std::optional<std::string>(); });
  int checks = 0;
  auto key = cache.keyFor(file, "secret", [&](const std::string&) {
    ++checks;
    return sql::DerivedKeyCache::KeyCheck::opens;
  });
  EXPECT_FALSE(key.has_value());
  EXPECT_EQ(checks, 0);
  // Without a salt there is nothing to derive: the passphrase serves.
  EXPECT_EQ(cache.keyFor(file.parent_path() / "absent.db", "secret", [&](const std::string&) {
    return sql::DerivedKeyCache::KeyCheck::opens;
  }), std::optional<std::string>("secret"));
  fs::remove(file);
}

}  // namespace
}  // namespace tavero::modules
