#include "modules/sql/PageSQLAuthorizer.h"

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>

#include "base/AsciiText.h"
#include "log/Log.h"

namespace tavero::modules::sql {
namespace {

// SQLite compares names without regard to ASCII case, so the policy does too.
bool startsWithNoCase(const char* text, std::string_view prefix) {
  return text && base::startsWithIgnoringAsciiCase(text, prefix);
}

bool equalsNoCase(const char* text, std::string_view other) {
  return text && base::equalsIgnoringAsciiCase(text, other);
}

// The name WebKit kept its own bookkeeping under; pages never get it.
bool isShellTable(const char* name) { return startsWithNoCase(name, "__WebKitDatabaseInfoTable__"); }

// Null is what SQLite passes for actions that name no database.
bool isPageDatabase(const char* database) {
  return !database || equalsNoCase(database, "main") || equalsNoCase(database, "temp");
}

// The tables SQLite keeps for itself, by what a write to them may do.
enum class InternalTable {
  None,        // a page's own table
  Schema,      // sqlite_master, sqlite_temp_master: DDL writes them; SQLite refuses direct writes
  Sequence,    // sqlite_sequence: DDL on AUTOINCREMENT tables writes it; only counters, harmless
  Statistics,  // sqlite_stat*: crafted rows reach known holes; DROP TABLE/INDEX delete rows
  Other,
};

InternalTable internalTable(const char* name) {
  if (!startsWithNoCase(name, "sqlite_")) return InternalTable::None;
  if (equalsNoCase(name, "sqlite_master") || equalsNoCase(name, "sqlite_temp_master")) return InternalTable::Schema;
  if (equalsNoCase(name, "sqlite_sequence")) return InternalTable::Sequence;
  if (startsWithNoCase(name, "sqlite_stat")) return InternalTable::Statistics;
  return InternalTable::Other;
}

struct RefusedFunction {
  const char* name;
  // The argument counts SQLite and SQLCipher register it with; 0 marks an
  // unused slot (none of these takes no arguments).
  std::array<int, 2> argumentCounts;
};

// Functions pages never get: pointer leaks and tokenizer hijacking
// (fts3_tokenizer), native code (load_extension), copying the database
// elsewhere (sqlcipher_export), FTS3 auxiliaries with cursor type confusion
// (snippet, offsets, matchinfo, optimize), and rtree's debugging helpers,
// which parse page-supplied node blobs.
const std::array<RefusedFunction, 9> kRefusedFunctions{{
    {"fts3_tokenizer", {1, 2}},
    {"load_extension", {1, 2}},
    {"sqlcipher_export", {1, 0}},
    {"snippet", {0, 0}},  // registered for any count only
    {"offsets", {1, 0}},
    {"matchinfo", {1, 2}},
    {"optimize", {1, 0}},
    {"rtreenode", {2, 0}},
    {"rtreedepth", {1, 0}},
}};

bool isRefusedFunction(const char* name) {
  for (const RefusedFunction& function : kRefusedFunctions) {
    if (equalsNoCase(name, function.name)) return true;
  }
  return false;
}

// What every replacement does. The table lacks sqlite3_user_data, so the
// library comes from the loader: only that library can be calling here.
void refuseCall(sqlite3_context* context, int, sqlite3_value**) {
  if (const SQLCipherLibrary* library = SQLCipherLibrary::get()) library->result_error(context, "not authorized", -1);
}

std::string describe(int action, const char* first, const char* second, const char* database) {
  std::string text = "SQL: refused page SQL (authorizer action " + std::to_string(action);
  for (const char* part : {first, second, database}) {
    if (part) text.append(", ").append(part);
  }
  text += ')';
  return text;
}

}  // namespace

PageSQLAuthorizer::PageSQLAuthorizer(const SQLCipherLibrary& library, sqlite3* db) : library_(library), db_(db) {
  library_.limit(db_, SQLITE_LIMIT_ATTACHED, 0);
  if (library_.limit(db_, SQLITE_LIMIT_ATTACHED, -1) != 0) {
    log::warning("SQL: cannot limit attached databases to none");
    installed_ = false;
  }

  for (int option : {SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION}) {
    int enabled = -1;
    int rc = library_.db_config(db_, option, 0, &enabled);
    if (rc != SQLITE_OK || enabled != 0) {
      log::warning("SQL: cannot turn off database option " + std::to_string(option) + " (" + std::to_string(rc) +
                   ")");
      installed_ = false;
    }
  }

  if (!replaceFunctions()) installed_ = false;

  // The authorizer last: the steps above run no SQL, and nothing is
  // prepared before it is in place.
  int rc = library_.set_authorizer(db_, &PageSQLAuthorizer::authorize, this);
  if (rc != SQLITE_OK) {
    log::error("SQL: cannot install the page SQL authorizer (" + std::to_string(rc) + ")");
    installed_ = false;
  }
}

PageSQLAuthorizer::~PageSQLAuthorizer() { library_.set_authorizer(db_, nullptr, nullptr); }

bool PageSQLAuthorizer::replaceFunctions() {
  bool ok = true;
  auto replace = [&](const char* name, int argumentCount) {
    int rc = library_.create_function_v2(db_, name, argumentCount, SQLITE_UTF8, nullptr, &refuseCall, nullptr,
                                         nullptr, nullptr);
    if (rc != SQLITE_OK) {
      log::warning(std::string("SQL: cannot replace function ") + name + "/" + std::to_string(argumentCount) + " (" +
                   library_.errmsg(db_) + ")");
      ok = false;
    }
  };
  for (const RefusedFunction& function : kRefusedFunctions) {
    // A registration with the exact count wins over a -1 one, so every count
    // the original has is replaced; the -1 one covers any other count, and
    // shadows a built-in of that name completely.
    for (int count : function.argumentCounts) {
      if (count != 0) replace(function.name, count);
    }
    replace(function.name, -1);
  }
  return ok;
}

int PageSQLAuthorizer::authorize(void* self, int action, const char* first, const char* second,
                                 const char* database, const char* trigger) {
  auto* authorizer = static_cast<PageSQLAuthorizer*>(self);
  if (authorizer->shellDepth_ > 0) return SQLITE_OK;
  int answer = decide(action, first, second, database, trigger);
  if (answer != SQLITE_OK) {
    log::debug(describe(action, first, second, database));
  } else if (action == SQLITE_INSERT && !trigger && internalTable(first) == InternalTable::None) {
    authorizer->insertSeen_ = true;
  }
  return answer;
}

int PageSQLAuthorizer::decide(int action, const char* first, const char* second, const char* database,
                              const char* /*trigger*/) {
  // A trigger's statements get the same answers as the page's own: the
  // page wrote the trigger.
  if (!isPageDatabase(database)) return SQLITE_DENY;

  switch (action) {
    case SQLITE_SELECT:
    case SQLITE_REINDEX:
    case SQLITE_SAVEPOINT:  // BEGIN, RELEASE and ROLLBACK TO of the page's savepoints
      return SQLITE_OK;

    case SQLITE_READ:  // first: table (sqlite_master included: pages list their tables)
      return isShellTable(first) ? SQLITE_DENY : SQLITE_OK;

    case SQLITE_INSERT:
    case SQLITE_UPDATE:
      if (isShellTable(first)) return SQLITE_DENY;
      switch (internalTable(first)) {
        case InternalTable::None:
        case InternalTable::Schema:
        case InternalTable::Sequence:
          return SQLITE_OK;
        case InternalTable::Statistics:
        case InternalTable::Other:
          return SQLITE_DENY;
      }
      return SQLITE_DENY;

    case SQLITE_DELETE:
      // Removing statistics rows is harmless, and DROP TABLE/INDEX do it.
      if (isShellTable(first)) return SQLITE_DENY;
      return internalTable(first) == InternalTable::Other ? SQLITE_DENY : SQLITE_OK;

    case SQLITE_CREATE_TABLE:  // first: table or view
    case SQLITE_CREATE_TEMP_TABLE:
    case SQLITE_DROP_TABLE:
    case SQLITE_DROP_TEMP_TABLE:
    case SQLITE_CREATE_VIEW:
    case SQLITE_CREATE_TEMP_VIEW:
    case SQLITE_DROP_VIEW:
    case SQLITE_DROP_TEMP_VIEW:
      return isShellTable(first) ? SQLITE_DENY : SQLITE_OK;

    case SQLITE_CREATE_INDEX:  // first: index or trigger, second: its table
    case SQLITE_CREATE_TEMP_INDEX:
    case SQLITE_DROP_INDEX:
    case SQLITE_DROP_TEMP_INDEX:
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_CREATE_TEMP_TRIGGER:
    case SQLITE_DROP_TRIGGER:
    case SQLITE_DROP_TEMP_TRIGGER:
      return isShellTable(first) || isShellTable(second) ? SQLITE_DENY : SQLITE_OK;

    case SQLITE_ALTER_TABLE:  // first: database, second: table
      return isPageDatabase(first) && !isShellTable(second) ? SQLITE_OK : SQLITE_DENY;

    case SQLITE_FUNCTION:  // second: function name
      return isRefusedFunction(second) ? SQLITE_DENY : SQLITE_OK;

    // Transactions belong to the shell. PRAGMAs reach the engine's and the
    // cipher's settings (the key too); ATTACH opens other files; ANALYZE
    // writes statistics with known holes; virtual tables' shadow-table
    // writes look like a page's own, so none are allowed; recursive queries
    // run without bound.
    case SQLITE_TRANSACTION:
    case SQLITE_PRAGMA:
    case SQLITE_ATTACH:
    case SQLITE_DETACH:
    case SQLITE_ANALYZE:
    case SQLITE_CREATE_VTABLE:
    case SQLITE_DROP_VTABLE:
    case SQLITE_RECURSIVE:
    default:
      return SQLITE_DENY;
  }
}

PageSQLAuthorizer::ShellScope::ShellScope(PageSQLAuthorizer& authorizer) : authorizer_(authorizer) {
  ++authorizer_.shellDepth_;
}

PageSQLAuthorizer::ShellScope::~ShellScope() { --authorizer_.shellDepth_; }

}  // namespace tavero::modules::sql
