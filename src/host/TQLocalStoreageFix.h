// Keeps the app's localStorage across launches by holding a copy of it in
// the Documents folder.
//
// The web view stores a file page's localStorage in
// <web data>/localstorage/file__0.localstorage, an SQLite database in WAL
// mode whose newest rows may live only in the -wal file beside it (the web
// view does not checkpoint at exit). preserveLocalStorage folds the database
// and its WAL into one self-contained file, Documents/.file__0.localstorage;
// restoreLocalStorage puts that file back as the live database.
//
// Thread rules: blocking file and SQLite work, meant for the main thread at
// the app's lifecycle points: restore at launch before any web view exists,
// preserve when the app loses activity and when it terminates. The calls
// keep no state, but two calls for the same home must not overlap (their
// temporary files are named by process id).
#pragma once

#include <filesystem>
#include <string>

#include "platform/HomeFolders.h"

namespace tavero::host {

class TQLocalStoreageFix {
 public:
  TQLocalStoreageFix() = delete;

  // At launch: clears leftovers (see clearLeftovers), then brings the
  // backup back when the live storage is gone. The backup is restored only
  // when there is one and the live database is missing, holds no table, or
  // is damaged (it fails to open as a database or fails SQLite's quick
  // check). An intact live database is newer than or as new as the backup
  // (a shell killed after the pages wrote leaves exactly that), so it is
  // never replaced; neither is one that cannot be checked (locked by
  // another process, unreadable). A damaged one is moved aside to
  // damagedPath() first, never deleted.
  //
  // Restoring copies the backup under a temporary name into the live
  // folder (created as needed), checks the copy, removes the -wal, -shm and
  // -journal files of the replaced database (SQLite would replay them over
  // the restored data) and renames the copy into place, so the live file is
  // never half written. Failures are logged and leave the live storage as
  // it was.
  static void restoreLocalStorage(const platform::HomeFolders& folders);

  // Removes the temporary files that a killed shell left behind: backups
  // being written (Documents/.file__0.localstorage.tmp-<pid>, their
  // journals, and private snapshot folders) and restores being written (in
  // the live folder). Files of a process that still runs are left alone.
  static void clearLeftovers(const platform::HomeFolders& folders);

  // Writes the live database, rows still only in its WAL included, as the
  // backup; nothing happens when there is no live database. The copy is
  // made with SQLite's online backup (safe while the web view has the
  // database open), checked, switched to a rollback journal so it is one
  // file, synced, and renamed over the previous backup. On any failure the
  // previous backup stays as it was, the temporary file is removed, and one
  // error line is logged.
  static void preserveLocalStorage(const platform::HomeFolders& folders);

  // Copies `source` to folder/name. Creates `folder` with its parents first
  // (the outcome is not checked), then removes whatever is at folder/name.
  // Returns 0 on success; -1 when the old target cannot be removed, with
  // *message "Could not remove source file while backing up localstorage";
  // -2 when the copy fails, with *message "Could not copy localstorage
  // backup". `message` may be null; it is left alone on success.
  static int copyFile(const std::filesystem::path& source, const std::filesystem::path& folder,
                      const std::string& name, std::string* message);

  // The live database and the backup for `folders`.
  static std::filesystem::path liveDatabasePath(const platform::HomeFolders& folders);
  static std::filesystem::path backupPath(const platform::HomeFolders& folders);
  // Where a damaged live database is kept when the backup replaces it.
  static std::filesystem::path damagedPath(const platform::HomeFolders& folders);

 private:
  static void restoreFromBackup(const platform::HomeFolders& folders);
};

}  // namespace tavero::host
