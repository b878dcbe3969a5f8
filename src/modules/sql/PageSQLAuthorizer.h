// Guards one connection against page SQL that could reach outside the
// database or into known holes of the SQLite under SQLCipher (3.15.2).
//
// Pages may read, write and reshape their own tables (tables, indexes,
// views, triggers, TEMP ones too, ALTER TABLE, REINDEX, savepoints). They
// may not run PRAGMAs (keying included), ATTACH or DETACH, ANALYZE, virtual
// tables of any module, transaction statements, recursive queries, or touch
// a database other than main and temp. Every refusal answers SQLITE_DENY, so
// preparing the statement fails with SQLITE_AUTH and "not authorized" (a
// refused column read says "access to T.C is prohibited").
//
// The authorizer also notes whether the statement being prepared inserts
// into a page table itself (not through a trigger), which tells a
// statement that inserted a row from one that only changed rows.
//
// Functions used in a column DEFAULT never reach the authorizer, so the
// dangerous ones are also replaced on the connection by versions that fail
// with "not authorized": fts3_tokenizer, load_extension, sqlcipher_export,
// snippet, offsets, matchinfo, optimize, rtreenode and rtreedepth. The
// replacements stay after the authorizer is gone.
//
// Thread rules: construct, destroy and open ShellScopes on the thread that
// runs the connection's statements (SQLite calls the authorizer there).
#pragma once

#include <utility>

#include "modules/sql/SQLCipherLibrary.h"

namespace tavero::modules::sql {

class PageSQLAuthorizer {
 public:
  // Installs the policy on `db`: the authorizer (with this object as its
  // user data, so the object must not move: hold it by unique_ptr), the
  // failing replacements, FTS3 tokenizer registration and extension loading
  // turned off, and no attached databases allowed. Steps that fail are
  // logged and make installed() false; the rest still apply.
  // REQUIRES: no statement of `db` is running.
  PageSQLAuthorizer(const SQLCipherLibrary& library, sqlite3* db);
  // Removes the authorizer. REQUIRES: `db` is still open.
  ~PageSQLAuthorizer();

  PageSQLAuthorizer(const PageSQLAuthorizer&) = delete;
  PageSQLAuthorizer& operator=(const PageSQLAuthorizer&) = delete;

  // Whether every step of the installation took effect.
  bool installed() const { return installed_; }

  // While a ShellScope lives, every statement prepared on the connection
  // runs unchecked: it is for the shell's own statements (BEGIN, BEGIN
  // EXCLUSIVE, COMMIT, ROLLBACK, PRAGMA key, SELECT count(*) FROM
  // sqlite_master). Prepare and step them inside the scope: a step
  // re-prepares after a schema change, and outside the scope that would be
  // checked as page SQL. Scopes nest. The replaced functions stay refused.
  class ShellScope {
   public:
    explicit ShellScope(PageSQLAuthorizer& authorizer);
    ~ShellScope();
    ShellScope(const ShellScope&) = delete;
    ShellScope& operator=(const ShellScope&) = delete;

   private:
    PageSQLAuthorizer& authorizer_;
  };

  // Whether a page statement prepared since the last call inserts into a
  // page table at its top level (INSERT, REPLACE; not a trigger's insert).
  // Call before preparing: it starts over.
  bool takeInsertSeen() { return std::exchange(insertSeen_, false); }

  // The page policy's answer for one authorizer call: SQLITE_OK or
  // SQLITE_DENY, never SQLITE_IGNORE. Arguments as SQLite passes them (any
  // may be null). Pure.
  static int decide(int action, const char* first, const char* second, const char* database,
                    const char* trigger);

 private:
  static int authorize(void* self, int action, const char* first, const char* second, const char* database,
                       const char* trigger);
  bool replaceFunctions();

  const SQLCipherLibrary& library_;
  sqlite3* db_;
  int shellDepth_ = 0;
  bool insertSeen_ = false;
  bool installed_ = true;
};

}  // namespace tavero::modules::sql
