// One transaction a page created: its own connection, whether its BEGIN
// failed, when it was last used, and why the shell ended it, if it did.
//
// Thread rules: every call on the transaction holds `mutex` for its whole
// run, so statements on one connection never overlap; the fields below it
// are guarded by it. The const fields never change.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "modules/sql/SQLConnection.h"

namespace tavero::modules::sql {

struct SQLTransaction {
  using Clock = std::chrono::steady_clock;

  SQLTransaction(std::unique_ptr<SQLConnection> connection, std::filesystem::path file, std::string passphrase,
                 bool readOnly, std::string page, std::string origin, Clock::time_point now)
      : file(std::move(file)),
        passphrase(std::move(passphrase)),
        readOnly(readOnly),
        page(std::move(page)),
        origin(std::move(origin)),
        connection(std::move(connection)),
        lastUsed(now) {}

  // Rolls back whatever the transaction did and closes its connection.
  // `reason` says why the shell ended it ("" when the page did); later calls
  // are answered with it. REQUIRES: mutex held.
  void end(std::string reason);

  const std::filesystem::path file;  // the database file
  const std::string passphrase;      // the one openDatabase checked ("" for a plain file)
  const bool readOnly;
  const std::string page;    // the name of the page that created it
  const std::string origin;  // the origin identifier of the database's opener

  std::mutex mutex;
  std::unique_ptr<SQLConnection> connection;  // null once ended
  // The connection was keyed while its encrypted file was still empty, so
  // SQLCipher gave it a salt of its own: if another transaction writes the
  // file first (with its salt), this connection cannot read it.
  bool keyedWhileEmpty = false;
  bool beginFailed = false;  // its statements must not run in autocommit mode
  // Its BEGIN succeeded: should SQLite have rolled it back on its own since
  // (some errors do), later statements must not run in autocommit mode.
  bool began = false;
  Clock::time_point lastUsed;  // when its latest call ended
  std::string endedBecause;
};

}  // namespace tavero::modules::sql
