// The registry of every database pages created: ".databases.db" beside the
// database files, table Databases (uid, origin, name, version, displayName,
// estimatedSize). The page's texts are bound as parameters, never formatted
// into SQL, and stored unchanged.
//
// Thread rules: any thread; one registry connection, guarded.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "modules/sql/SQLConnection.h"

namespace tavero::modules::sql {

class SQLDatabaseRegistry {
 public:
  static constexpr const char* kFileName = ".databases.db";
  static constexpr const char* kCreateTable =
      "CREATE TABLE Databases (uid INTEGER PRIMARY KEY, origin TEXT, name TEXT, version TEXT, displayName TEXT, "
      "estimatedSize INTEGER)";

  // Opens (and on first use creates) the registry in `folder`; null, after
  // logging why, when that is impossible.
  static std::unique_ptr<SQLDatabaseRegistry> open(const SQLCipherLibrary& library,
                                                   const std::filesystem::path& folder);

  struct Entry {
    int64_t uid;
    std::optional<std::string> version;  // none when SQL NULL
  };
  enum class Outcome { found, notFound, failed };
  struct LookUp {
    Outcome outcome;
    Entry entry;
  };
  LookUp lookUp(const std::string& origin, const std::string& name);
  // The new database's uid, or nothing when the insert failed.
  std::optional<int64_t> registerDatabase(const std::string& origin, const std::string& name,
                                          const std::string& version, const std::string& displayName,
                                          int32_t estimatedSize);
  bool refresh(int64_t uid, const std::string& displayName, int32_t estimatedSize);
  std::optional<std::string> version(int64_t uid);
  bool setVersion(int64_t uid, const std::string& version);

 private:
  explicit SQLDatabaseRegistry(std::unique_ptr<SQLConnection> connection);
  class Statement;

  std::mutex mutex_;  // guards connection_: a row id must be read right after its insert
  std::unique_ptr<SQLConnection> connection_;
};

}  // namespace tavero::modules::sql
