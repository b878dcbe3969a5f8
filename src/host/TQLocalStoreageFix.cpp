#include "host/TQLocalStoreageFix.h"

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "base/PrivateFiles.h"
#include "log/Log.h"

namespace tavero::host {

namespace fs = std::filesystem;

namespace {

constexpr const char* liveName = "file__0.localstorage";
constexpr const char* backupName = ".file__0.localstorage";
// Files SQLite keeps beside a database; they belong to that database only.
constexpr const char* sidecarSuffixes[] = {"-wal", "-shm", "-journal"};
// The private copy preserve reads a database from when it cannot read it in place.
const std::string snapshotFolderPrefix = ".localstorage-snapshot-";

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
  // A statement may still have work to do after its first row: a pragma
  // that changes the journal mode commits the new file header when it is
  // finalised, and a failure there fails the statement.
  std::optional<std::string> firstText(const char* sql) const {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK) return std::nullopt;
    std::optional<std::string> text;
    if (sqlite3_step(statement) == SQLITE_ROW) {
      auto column = sqlite3_column_text(statement, 0);
      text = column ? reinterpret_cast<const char*>(column) : "";
    }
    if (sqlite3_finalize(statement) != SQLITE_OK) return std::nullopt;
    return text;
  }

 private:
  sqlite3* db_ = nullptr;
};

// Whether the database at `path` can be used as it is: it opens, passes
// SQLite's quick check (its -wal, if any, included) and holds any table.
// Only SQLite's own verdict makes it damaged; one that cannot be checked
// (locked by another process, unreadable, out of memory) is left alone.
struct Inspection {
  enum class State { Intact, Empty, Unchecked, Damaged } state;
  std::string reason;  // why it is damaged or could not be checked
};

Inspection failedInspection(const Connection& db) {
  int primary = db.get() ? sqlite3_errcode(db.get()) & 0xff : SQLITE_NOMEM;
  bool damaged = primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
  return {damaged ? Inspection::State::Damaged : Inspection::State::Unchecked, db.error()};
}

Inspection inspect(const fs::path& path) {
  using State = Inspection::State;
  Connection db;
  if (db.open(path, SQLITE_OPEN_READWRITE) != SQLITE_OK) return failedInspection(db);
  sqlite3_busy_timeout(db.get(), 1000);
  auto check = db.firstText("PRAGMA quick_check");
  if (!check) return failedInspection(db);
  if (*check != "ok") return {State::Damaged, *check};
  auto tables = db.firstText("SELECT count(*) FROM sqlite_master");
  if (!tables) return failedInspection(db);
  return {*tables == "0" ? State::Empty : State::Intact, {}};
}

// Moves `database` and the files beside it to `target` (and its -wal...),
// replacing an earlier copy there.
bool moveDatabaseFiles(const fs::path& database, const fs::path& target, std::string& why) {
  removeDatabaseFiles(target);
  std::error_code ec;
  // The main file first: once it is gone, the next launch restores the
  // backup whatever else a kill left behind.
  fs::rename(database, target, ec);
  if (ec) {
    why = "could not move " + quoted(database) + ": " + ec.message();
    return false;
  }
  for (const char* suffix : sidecarSuffixes) {
    fs::path sidecar = withSuffix(database, suffix);
    if (fs::exists(sidecar, ec)) fs::rename(sidecar, withSuffix(target, suffix), ec);
  }
  return true;
}

// The process id in a temporary name "<prefix><pid>" followed by nothing or
// an SQLite suffix; nothing when `name` is not such a name.
std::optional<pid_t> temporaryOwner(const std::string& name, const std::string& prefix) {
  if (!name.starts_with(prefix)) return std::nullopt;
  std::string_view rest = std::string_view(name).substr(prefix.size());
  long pid = 0;
  auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
  if (error != std::errc() || end == rest.data() || pid <= 0) return std::nullopt;
  std::string_view suffix(end, static_cast<size_t>(rest.data() + rest.size() - end));
  bool known = suffix.empty();
  for (const char* sidecar : sidecarSuffixes) known = known || suffix == sidecar;
  if (!known) return std::nullopt;
  return static_cast<pid_t>(pid);
}

// Whether the process that named a temporary file may still be using it.
bool mayBeInUse(pid_t owner) {
  if (owner == getpid()) return false;
  return ::kill(owner, 0) == 0 || errno != ESRCH;
}

// Removes the temporary files (and folders) in `folder` whose names start
// with one of `prefixes` and whose process is gone.
void removeLeftovers(const fs::path& folder, std::initializer_list<std::string> prefixes) {
  std::error_code ec;
  std::vector<fs::path> leftovers;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    for (const std::string& prefix : prefixes) {
      auto owner = temporaryOwner(name, prefix);
      if (owner && !mayBeInUse(*owner)) leftovers.push_back(it->path());
    }
  }
  for (const fs::path& leftover : leftovers) {
    std::error_code removed;
    fs::remove_all(leftover, removed);
    if (removed) {
      log::warning("local storage: could not remove the leftover " + quoted(leftover) + ": " + removed.message());
    } else {
      log::info("local storage: removed " + quoted(leftover) + ", left behind by an interrupted run");
    }
  }
}

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
  // SQLite makes the copy in this empty file, and keeps its mode (0600).
  if (std::error_code ec = base::createPrivateFile(targetPath)) {
    return failure("could not create " + quoted(targetPath) + ": " + ec.message());
  }
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
  fs::path scratch = scratchParent / (snapshotFolderPrefix + processSuffix());
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

fs::path TQLocalStoreageFix::damagedPath(const platform::HomeFolders& folders) {
  return folders.documents() / (std::string(backupName) + ".damaged");
}

int TQLocalStoreageFix::copyFile(const fs::path& source, const fs::path& folder,
                                 const std::string& name, std::string* message) {
  std::error_code ec = base::createPrivateFolders(folder);
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
  // The copy takes the source's mode, which WebKit may have made for anyone.
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, ec);
  return 0;
}

void TQLocalStoreageFix::clearLeftovers(const platform::HomeFolders& folders) {
  const std::string backupFile = backupPath(folders).filename().string();
  removeLeftovers(folders.documents(), {backupFile + ".tmp-", snapshotFolderPrefix});
  removeLeftovers(folders.localStorageFolder(), {std::string(".") + liveName + ".restore-"});
}

void TQLocalStoreageFix::restoreLocalStorage(const platform::HomeFolders& folders) {
  clearLeftovers(folders);
  const fs::path backup = backupPath(folders);
  std::error_code ec;
  if (!fs::is_regular_file(backup, ec)) return;

  const fs::path live = liveDatabasePath(folders);
  if (fs::exists(live, ec)) {
    Inspection found = inspect(live);
    if (found.state == Inspection::State::Intact) {
      log::debug("local storage: the live database is intact; it is kept and the backup is not used");
      return;
    }
    if (found.state == Inspection::State::Unchecked) {
      log::warning("local storage: the live database cannot be checked (" + found.reason +
                   "); it is kept and the backup is not used");
      return;
    }
    if (found.state == Inspection::State::Damaged) {
      const fs::path aside = damagedPath(folders);
      std::string why;
      if (!moveDatabaseFiles(live, aside, why)) {
        log::error("Could not restore localStorage: the live database is damaged (" + found.reason + ") and " + why);
        return;
      }
      log::warning("local storage: the live database is damaged (" + found.reason + "); it is kept as " +
                   quoted(aside) + " and the backup restored");
    }
  }
  restoreFromBackup(folders);
}

void TQLocalStoreageFix::restoreFromBackup(const platform::HomeFolders& folders) {
  const fs::path backup = backupPath(folders);
  const fs::path live = liveDatabasePath(folders);
  const fs::path folder = live.parent_path();
  const std::string temporaryName = std::string(".") + liveName + ".restore-" + processSuffix();
  const fs::path temporary = folder / temporaryName;
  std::error_code ec;
  auto fail = [&](const std::string& why) {
    removeDatabaseFiles(temporary);
    log::error("Could not restore localStorage from " + quoted(backup) + ": " + why);
  };

  std::string message;
  if (copyFile(backup, folder, temporaryName, &message) != 0) return fail(message);
  Inspection copy = inspect(temporary);
  if (copy.state == Inspection::State::Damaged) return fail("the backup is damaged (" + copy.reason + ")");
  if (copy.state == Inspection::State::Unchecked) return fail("its copy cannot be checked (" + copy.reason + ")");
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
  base::createPrivateFolders(documents);
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
    // The web view's storage process writes to the same disk and reports
    // none of its failures: when the backup fails, the pages' latest
    // localStorage may exist nowhere, and this line is all that tells.
    log::error("Could not back up localStorage to " + quoted(backup) + ": " + outcome.message +
               "; the previous backup is kept. localStorage DATA MAY BE LOST: what the pages stored since "
               "the previous backup may be in no file (on a full disk the web view fails to store it too, "
               "without telling the page)");
    return;
  }
  log::debug("Backed up localStorage to " + quoted(backup));
}

}  // namespace tavero::host
