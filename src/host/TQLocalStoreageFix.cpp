#include "host/TQLocalStoreageFix.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "log/Log.h"

namespace tavero::host {

namespace fs = std::filesystem;

namespace {

constexpr const char* liveName = "file__0.localstorage";
constexpr const char* backupName = ".file__0.localstorage";
// Files SQLite keeps beside a database; they belong to that database only.
constexpr const char* sidecarSuffixes[] = {"-wal", "-shm", "-journal"};

struct Outcome {
  bool ok = true;
  int sqliteCode = SQLITE_OK;  // the SQLite result behind a failure, if any
  std::string message;
};

Outcome failure(std::string message, int sqliteCode = SQLITE_ERROR) {
  return Outcome{false, sqliteCode, std::move(message)};
}

fs::path withSuffix(const fs::path& path, const char* suffix) {
  fs::path result = path;
  result += suffix;
  return result;
}

std::string processSuffix() { return std::to_string(static_cast<long>(getpid())); }

std::string quoted(const fs::path& path) { return "\"" + path.string() + "\""; }

// Removes `database` with any SQLite files beside it; a best effort used to
// clean up temporary copies.
void removeDatabaseFiles(const fs::path& database) {
  std::error_code ec;
  fs::remove(database, ec);
  for (const char* suffix : sidecarSuffixes) fs::remove(withSuffix(database, suffix), ec);
}

bool syncPath(const fs::path& path, int flags) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

bool syncFile(const fs::path& file) { return syncPath(file, O_RDONLY); }

// Makes a rename inside `folder` durable. Not every file system allows it;
// failing here loses nothing that was not at risk anyway.
void syncFolder(const fs::path& folder) { syncPath(folder, O_RDONLY | O_DIRECTORY); }

// One open SQLite connection, closed when it goes out of scope.
class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { sqlite3_close_v2(db_); }

  int open(const fs::path& file, int flags) {
    int rc = sqlite3_open_v2(file.c_str(), &db_, flags, nullptr);
    if (db_) sqlite3_extended_result_codes(db_, 1);
    return rc;
  }
  int close() {
    int rc = sqlite3_close(db_);
    if (rc == SQLITE_OK) db_ = nullptr;
    return rc;
  }
  sqlite3* get() const { return db_; }
  std::string error() const { return db_ ? sqlite3_errmsg(db_) : "out of memory"; }

  // The first column of the first row of `sql`, or nothing on failure.
  std::optional<std::string> firstText(const char* sql) const {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK) return std::nullopt;
    std::optional<std::string> text;
    if (sqlite3_step(statement) == SQLITE_ROW) {
      auto column = sqlite3_column_text(statement, 0);
      text = column ? reinterpret_cast<const char*>(column) : "";
    }
    sqlite3_finalize(statement);
    return text;
  }

 private:
  sqlite3* db_ = nullptr;
};

Outcome copyPages(Connection& source, Connection& target, const fs::path& sourcePath) {
  sqlite3_backup* backup = sqlite3_backup_init(target.get(), "main", source.get(), "main");
  if (!backup) return failure("could not start copying: " + target.error());
  int stepped = sqlite3_backup_step(backup, -1);
  int finished = sqlite3_backup_finish(backup);
  if (stepped != SQLITE_DONE) {
    return failure("could not read " + quoted(sourcePath) + ": " + sqlite3_errstr(stepped),
                   stepped);
  }
  if (finished != SQLITE_OK) return failure("could not copy: " + target.error(), finished);
  return {};
}

// Leaves `target` a self-contained file that passes SQLite's own check.
Outcome seal(Connection& target) {
  auto mode = target.firstText("PRAGMA journal_mode=DELETE");
  if (!mode || *mode != "delete") return failure("could not leave WAL mode: " + target.error());
  auto check = target.firstText("PRAGMA quick_check");
  if (!check || *check != "ok") {
    return failure("the copy failed its check: " + check.value_or(target.error()));
  }
  return {};
}

// Copies the database at `sourcePath` (opened with `sourceFlags`), WAL
// content included, into a new file at `targetPath`.
Outcome snapshot(const fs::path& sourcePath, int sourceFlags, const fs::path& targetPath) {
  Connection source;
  if (int rc = source.open(sourcePath, sourceFlags); rc != SQLITE_OK) {
    return failure("could not open " + quoted(sourcePath) + ": " + source.error(), rc);
  }
  sqlite3_busy_timeout(source.get(), 1000);
  Connection target;
  if (int rc = target.open(targetPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
      rc != SQLITE_OK) {
    return failure("could not create " + quoted(targetPath) + ": " + target.error(), rc);
  }
  Outcome outcome = copyPages(source, target, sourcePath);
  if (outcome.ok) outcome = seal(target);
  if (outcome.ok && target.close() != SQLITE_OK) outcome = failure("could not close the copy");
  return outcome;
}

// A read-only connection to a WAL database needs to write its -shm file (or
// create it); when it cannot, the database is read from a private copy of
// all its files instead.
bool needsPrivateCopy(int sqliteCode) {
  int primary = sqliteCode & 0xff;
  return primary == SQLITE_CANTOPEN || primary == SQLITE_READONLY;
}

Outcome snapshotOfCopy(const fs::path& live, const fs::path& scratchParent,
                       const fs::path& targetPath) {
  fs::path scratch = scratchParent / (".localstorage-snapshot-" + processSuffix());
  std::error_code ec;
  fs::remove_all(scratch, ec);
  std::string message;
  Outcome outcome;
  if (TQLocalStoreageFix::copyFile(live, scratch, liveName, &message) != 0) {
    outcome = failure(message + " (" + quoted(live) + ")");
  }
  for (const char* suffix : {"-wal", "-shm"}) {
    fs::path sidecar = withSuffix(live, suffix);
    if (!outcome.ok || !fs::exists(sidecar, ec)) continue;
    std::string name = sidecar.filename().string();
    if (TQLocalStoreageFix::copyFile(sidecar, scratch, name, &message) != 0) {
      outcome = failure(message + " (" + quoted(sidecar) + ")");
    }
  }
  if (outcome.ok) outcome = snapshot(scratch / liveName, SQLITE_OPEN_READWRITE, targetPath);
  fs::remove_all(scratch, ec);
  return outcome;
}

Outcome replaceBackup(const fs::path& temporary, const fs::path& backup) {
  if (!syncFile(temporary)) return failure("could not sync " + quoted(temporary));
  std::error_code ec;
  fs::rename(temporary, backup, ec);
  if (ec) return failure("could not rename the copy to " + quoted(backup) + ": " + ec.message());
  syncFolder(backup.parent_path());
  return {};
}

}  // namespace

fs::path TQLocalStoreageFix::liveDatabasePath(const platform::HomeFolders& folders) {
  return folders.localStorageFolder() / liveName;
}

fs::path TQLocalStoreageFix::backupPath(const platform::HomeFolders& folders) {
  return folders.documents() / backupName;
}

int TQLocalStoreageFix::copyFile(const fs::path& source, const fs::path& folder,
                                 const std::string& name, std::string* message) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  const fs::path target = folder / name;
  fs::remove(target, ec);
  if (ec) {
    if (message) *message = "Could not remove source file while backing up localstorage";
    return -1;
  }
  fs::copy_file(source, target, ec);
  if (ec) {
    if (message) *message = "Could not copy localstorage backup";
    return -2;
  }
  return 0;
}

void TQLocalStoreageFix::restoreLocalStorage(const platform::HomeFolders& folders) {
  const fs::path backup = backupPath(folders);
  std::error_code ec;
  if (!fs::is_regular_file(backup, ec)) return;

  const fs::path live = liveDatabasePath(folders);
  const fs::path folder = live.parent_path();
  const std::string temporaryName = std::string(".") + liveName + ".restore-" + processSuffix();
  const fs::path temporary = folder / temporaryName;
  auto fail = [&](const std::string& why) {
    fs::remove(temporary, ec);
    log::error("Could not restore localStorage from " + quoted(backup) + ": " + why);
  };

  std::string message;
  if (copyFile(backup, folder, temporaryName, &message) != 0) return fail(message);
  if (!syncFile(temporary)) return fail("could not sync " + quoted(temporary));
  for (const char* suffix : sidecarSuffixes) {
    fs::path stale = withSuffix(live, suffix);
    fs::remove(stale, ec);
    if (ec) return fail("could not remove " + quoted(stale) + ": " + ec.message());
  }
  fs::rename(temporary, live, ec);
  if (ec) return fail("could not rename the copy to " + quoted(live) + ": " + ec.message());
  syncFolder(folder);
  log::info("Restored localStorage from " + quoted(backup));
}

void TQLocalStoreageFix::preserveLocalStorage(const platform::HomeFolders& folders) {
  const fs::path live = liveDatabasePath(folders);
  std::error_code ec;
  if (!fs::exists(live, ec)) return;

  const fs::path backup = backupPath(folders);
  const fs::path documents = backup.parent_path();
  fs::create_directories(documents, ec);
  const fs::path temporary = withSuffix(backup, (".tmp-" + processSuffix()).c_str());
  removeDatabaseFiles(temporary);

  Outcome outcome = snapshot(live, SQLITE_OPEN_READONLY, temporary);
  if (!outcome.ok && needsPrivateCopy(outcome.sqliteCode)) {
    log::debug("localStorage backup: " + outcome.message + "; reading a private copy instead");
    removeDatabaseFiles(temporary);
    outcome = snapshotOfCopy(live, documents, temporary);
  }
  if (outcome.ok) outcome = replaceBackup(temporary, backup);
  if (!outcome.ok) {
    removeDatabaseFiles(temporary);
    log::error("Could not back up localStorage to " + quoted(backup) + ": " + outcome.message +
               "; the previous backup is kept");
    return;
  }
  log::debug("Backed up localStorage to " + quoted(backup));
}

}  // namespace tavero::host
