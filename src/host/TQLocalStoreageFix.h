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

  // Replaces the live database with the backup, if there is a backup; with
  // none the live storage is left untouched. The live file is replaced,
  // never merged, even when it is newer. Any -wal, -shm or -journal file
  // beside it belongs to the replaced database and is removed first, since
  // SQLite would replay it over the restored data. The restored file is
  // written under a temporary name in the live folder (created as needed)
  // and renamed into place, so the live file is never half written.
  // Failures are logged and leave the live storage as it was.
  static void restoreLocalStorage(const platform::HomeFolders& folders);

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
};

}  // namespace tavero::host
