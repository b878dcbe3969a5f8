#include "modules/sql/SQLCipherLibrary.h"

#include <dlfcn.h>

#include <string>

#include "log/Log.h"

namespace tavero::modules::sql {
namespace {

constexpr const char* kLibraryName = "libsqlcipher.so.0";

// RTLD_DEEPBIND makes SQLCipher's calls to its own sqlite3_* functions bind
// to itself even when the system SQLite is already in the process. The
// sanitizer runtimes refuse it: AddressSanitizer builds link SQLCipher ahead
// of every other library instead, so that the whole process uses its SQLite,
// and ThreadSanitizer builds do not load the web view.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL;
#else
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND;
#endif

template <class Function>
bool resolve(void* handle, const char* name, Function& slot) {
  slot = reinterpret_cast<Function>(::dlsym(handle, name));
  if (!slot) log::error(std::string("SQL: SQLCipher has no ") + name);
  return slot != nullptr;
}

const SQLCipherLibrary* load() {
  void* handle = ::dlopen(kLibraryName, kOpenFlags);
  if (!handle) {
    const char* why = ::dlerror();
    log::error(std::string("SQL: cannot load ") + kLibraryName + " (" + (why ? why : "unknown error") +
               "); install libsqlcipher0");
    return nullptr;
  }
  static SQLCipherLibrary library;
  SQLCipherLibrary& l = library;
  bool ok = resolve(handle, "sqlite3_open_v2", l.open_v2) & resolve(handle, "sqlite3_close", l.close) &
            resolve(handle, "sqlite3_key", l.key) & resolve(handle, "sqlite3_exec", l.exec) &
            resolve(handle, "sqlite3_prepare_v2", l.prepare_v2) & resolve(handle, "sqlite3_step", l.step) &
            resolve(handle, "sqlite3_finalize", l.finalize) & resolve(handle, "sqlite3_next_stmt", l.next_stmt) &
            resolve(handle, "sqlite3_bind_parameter_count", l.bind_parameter_count) &
            resolve(handle, "sqlite3_bind_null", l.bind_null) & resolve(handle, "sqlite3_bind_int", l.bind_int) &
            resolve(handle, "sqlite3_bind_int64", l.bind_int64) &
            resolve(handle, "sqlite3_bind_double", l.bind_double) &
            resolve(handle, "sqlite3_bind_text", l.bind_text) &
            resolve(handle, "sqlite3_column_count", l.column_count) &
            resolve(handle, "sqlite3_column_name", l.column_name) &
            resolve(handle, "sqlite3_column_type", l.column_type) &
            resolve(handle, "sqlite3_column_int64", l.column_int64) &
            resolve(handle, "sqlite3_column_double", l.column_double) &
            resolve(handle, "sqlite3_column_text", l.column_text) &
            resolve(handle, "sqlite3_column_blob", l.column_blob) &
            resolve(handle, "sqlite3_column_bytes", l.column_bytes) &
            resolve(handle, "sqlite3_last_insert_rowid", l.last_insert_rowid) &
            resolve(handle, "sqlite3_changes", l.changes) &
            resolve(handle, "sqlite3_total_changes", l.total_changes) & resolve(handle, "sqlite3_errcode", l.errcode) &
            resolve(handle, "sqlite3_errmsg", l.errmsg) & resolve(handle, "sqlite3_busy_timeout", l.busy_timeout) &
            resolve(handle, "sqlite3_db_readonly", l.db_readonly) &
            resolve(handle, "sqlite3_stmt_readonly", l.stmt_readonly) &
            resolve(handle, "sqlite3_get_autocommit", l.get_autocommit) &
            resolve(handle, "sqlite3_set_authorizer", l.set_authorizer) &
            resolve(handle, "sqlite3_create_function_v2", l.create_function_v2) &
            resolve(handle, "sqlite3_result_error", l.result_error) &
            resolve(handle, "sqlite3_db_config", l.db_config) & resolve(handle, "sqlite3_limit", l.limit) &
            resolve(handle, "sqlite3_libversion", l.libversion);
  if (!ok) return nullptr;
  log::debug(std::string("SQL: SQLCipher on SQLite ") + l.libversion());
  return &library;
}

}  // namespace

const SQLCipherLibrary* SQLCipherLibrary::get() {
  static const SQLCipherLibrary* const library = load();
  return library;
}

}  // namespace tavero::modules::sql
