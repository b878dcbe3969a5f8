#include "modules/sql/SQLTransaction.h"

namespace tavero::modules::sql {

void SQLTransaction::end(std::string reason) {
  if (connection) {
    const SQLCipherLibrary& library = connection->library();
    // Statements still prepared would keep the transaction's locks.
    while (sqlite3_stmt* statement = library.next_stmt(connection->handle(), nullptr)) library.finalize(statement);
    connection->exec("ROLLBACK");
    connection.reset();
  }
  if (endedBecause.empty()) endedBecause = std::move(reason);
}

}  // namespace tavero::modules::sql
