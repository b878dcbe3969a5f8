// The SQL module's background thread. It rolls back transactions left idle
// for longer than the idle limit, ends transactions handed to it (those of
// a page whose document went away) once no call is using them, and gives
// memory back to the system after large results.
//
// Thread rules: any thread may call its operations. The destructor stops
// the thread after ending the transactions still handed to it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "modules/sql/SQLTransactionTable.h"

namespace tavero::modules::sql {

class SQLHousekeeper {
 public:
  using Clock = std::function<SQLTransaction::Clock::time_point()>;

  // `table` must outlive the housekeeper. Idle transactions are looked for
  // every quarter of `idleLimit` while there are any, ended by
  // endIdleTransactions().
  SQLHousekeeper(SQLTransactionTable& table, std::chrono::milliseconds idleLimit, Clock clock);
  ~SQLHousekeeper();

  SQLHousekeeper(const SQLHousekeeper&) = delete;
  SQLHousekeeper& operator=(const SQLHousekeeper&) = delete;

  // The text later calls on a transaction ended for being idle get.
  std::string idleReason() const;

  // Rolls back the transactions idle for longer than the limit now;
  // returns how many.
  size_t endIdleTransactions();
  // A transaction was added: idle ones are looked for from now on.
  void transactionAdded();
  // Ends `transactions` (already out of the table) on the thread, each once
  // the call using it, if any, is done.
  void endLater(std::vector<std::shared_ptr<SQLTransaction>> transactions, std::string reason);
  // A large answer is on its way: once it has had time to be sent, the
  // memory it took is given back to the system.
  void releaseMemorySoon();

 private:
  void run();

  SQLTransactionTable& table_;
  const std::chrono::milliseconds idleLimit_;
  const Clock clock_;

  std::mutex mutex_;  // guards the fields below
  std::condition_variable wake_;
  bool stopping_ = false;
  bool poked_ = false;     // something to do came while the thread was busy
  bool watching_ = false;  // the table may hold transactions: look for idle ones
  uint64_t additions_ = 0;
  uint64_t additionsSeen_ = 0;
  std::vector<std::pair<std::shared_ptr<SQLTransaction>, std::string>> toEnd_;
  std::optional<std::chrono::steady_clock::time_point> releaseMemoryAt_;

  std::thread thread_;  // last: starts once the fields above exist
};

}  // namespace tavero::modules::sql
