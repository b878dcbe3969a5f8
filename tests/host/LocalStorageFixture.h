// What the local storage tests share: a fresh folder per test with the log
// captured, and SQLite databases made and read the way the web view does.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "base/FileRead.h"
#include "host/TQLocalStoreageFix.h"
#include "log/Log.h"
#include "platform/HomeFolders.h"

namespace tavero::host {

namespace fs = std::filesystem;
using platform::HomeFolders;

inline void writeFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string readFile(const fs::path& path) { return base::readFileText(path).value_or(""); }

inline std::vector<std::string> namesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// A fresh folder per test, with the log captured.
class TempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tavero-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root = pattern;
    home = HomeFolders{root / "home"};
    log::setSink([this](log::Level, std::string_view line) { logged.emplace_back(line); });
  }
  void TearDown() override {
    log::setSink({});
    fs::remove_all(root);
  }
  bool loggedLineContaining(std::string_view text) const {
    return std::any_of(logged.begin(), logged.end(),
                       [&](const std::string& line) { return line.find(text) != line.npos; });
  }

  fs::path root;
  HomeFolders home;
  std::vector<std::string> logged;
};

// A connection for setting up and reading databases the way the web view does.
class Database {
 public:
  explicit Database(const fs::path& file) { sqlite3_open(file.c_str(), &db_); }
  ~Database() { sqlite3_close(db_); }
  void exec(const std::string& sql) {
    ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db_) << " in " << sql;
  }
  // The value stored under `key`, or nothing (also when there is no table).
  std::optional<std::string> value(const std::string& key) {
    sqlite3_stmt* statement = nullptr;
    std::optional<std::string> result;
    if (sqlite3_prepare_v2(db_, "SELECT value FROM ItemTable WHERE key = ?", -1, &statement,
                           nullptr) != SQLITE_OK) {
      return result;
    }
    sqlite3_bind_text(statement, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(statement) == SQLITE_ROW) {
      result = std::string(static_cast<const char*>(sqlite3_column_blob(statement, 0)),
                           sqlite3_column_bytes(statement, 0));
    }
    sqlite3_finalize(statement);
    return result;
  }

 private:
  sqlite3* db_ = nullptr;
};

inline const char* const createItemTable =
    "CREATE TABLE ItemTable (key TEXT UNIQUE ON CONFLICT REPLACE PRIMARY KEY NOT NULL, "
    "value BLOB NOT NULL)";

// A live database like the web view leaves it: the table checkpointed into
// the main file, `key` = `value` only in the WAL, held there by `writer`.
inline void makeLiveDatabaseWithRowInWal(Database& writer, const std::string& key,
                                  const std::string& value) {
  writer.exec("PRAGMA journal_mode=WAL");
  writer.exec(createItemTable);
  writer.exec("PRAGMA wal_checkpoint(TRUNCATE)");
  writer.exec("PRAGMA wal_autocheckpoint=0");
  writer.exec("INSERT INTO ItemTable VALUES ('" + key + "', CAST('" + value + "' AS BLOB))");
}

// A database in rollback-journal mode holding `key` = `value`.
inline void makeStorage(const fs::path& file, const std::string& key, const std::string& value) {
  fs::create_directories(file.parent_path());
  Database db(file);
  db.exec(createItemTable);
  db.exec("INSERT INTO ItemTable VALUES ('" + key + "', CAST('" + value + "' AS BLOB))");
}

inline bool passesQuickCheck(const fs::path& file) {
  sqlite3* db = nullptr;
  bool ok = false;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      ok = std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))) == "ok";
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return ok;
}

}  // namespace tavero::host
