// The SQLCipher library, loaded privately.
//
// The web view brings the system's SQLite into the process, and SQLCipher
// exports the same sqlite3_* names: linked normally, one library's code
// would run on the other's functions. So SQLCipher is opened with dlopen
// (local symbols, its own names bound first) and called only through this
// table.
#pragma once

#define SQLITE_HAS_CODEC 1
#include <sqlcipher/sqlite3.h>

namespace tavero::modules::sql {

struct SQLCipherLibrary {
  decltype(&::sqlite3_open_v2) open_v2;
  decltype(&::sqlite3_close) close;
  decltype(&::sqlite3_key) key;
  decltype(&::sqlite3_exec) exec;
  decltype(&::sqlite3_prepare_v2) prepare_v2;
  decltype(&::sqlite3_step) step;
  decltype(&::sqlite3_finalize) finalize;
  decltype(&::sqlite3_next_stmt) next_stmt;
  decltype(&::sqlite3_bind_parameter_count) bind_parameter_count;
  decltype(&::sqlite3_bind_null) bind_null;
  decltype(&::sqlite3_bind_int) bind_int;
  decltype(&::sqlite3_bind_int64) bind_int64;
  decltype(&::sqlite3_bind_double) bind_double;
  decltype(&::sqlite3_bind_text) bind_text;
  decltype(&::sqlite3_column_count) column_count;
  decltype(&::sqlite3_column_name) column_name;
  decltype(&::sqlite3_column_type) column_type;
  decltype(&::sqlite3_column_int64) column_int64;
  decltype(&::sqlite3_column_double) column_double;
  decltype(&::sqlite3_column_text) column_text;
  decltype(&::sqlite3_column_blob) column_blob;
  decltype(&::sqlite3_column_bytes) column_bytes;
  decltype(&::sqlite3_last_insert_rowid) last_insert_rowid;
  decltype(&::sqlite3_changes) changes;
  decltype(&::sqlite3_total_changes) total_changes;
  decltype(&::sqlite3_errcode) errcode;
  decltype(&::sqlite3_errmsg) errmsg;
  decltype(&::sqlite3_busy_timeout) busy_timeout;
  decltype(&::sqlite3_db_readonly) db_readonly;
  decltype(&::sqlite3_stmt_readonly) stmt_readonly;
  decltype(&::sqlite3_get_autocommit) get_autocommit;
  decltype(&::sqlite3_set_authorizer) set_authorizer;
  decltype(&::sqlite3_create_function_v2) create_function_v2;
  decltype(&::sqlite3_result_error) result_error;
  decltype(&::sqlite3_db_config) db_config;
  decltype(&::sqlite3_limit) limit;
  decltype(&::sqlite3_libversion) libversion;

  // The loaded library, or null (after logging why) when it cannot be
  // loaded. Loaded once; any thread.
  static const SQLCipherLibrary* get();
};

}  // namespace tavero::modules::sql
