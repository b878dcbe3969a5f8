// The open transactions by id, and why the shell ended the ones it ended
// on its own (so that later calls on them get a clear answer instead of
// none).
//
// Ids are the decimal text of a counter that starts at 1 and keeps rising
// for the whole run, across all databases; an id is never reused.
//
// Thread rules: any thread. The table's mutex is never held while a
// transaction's statement runs or while waiting for a transaction's mutex
// (it only try-locks them), so a call waiting on a busy database never
// holds up calls on other transactions.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "modules/sql/SQLTransaction.h"

namespace tavero::modules::sql {

class SQLTransactionTable {
 public:
  // How many ended transactions keep their reason; older ones are
  // forgotten (calls on them then get no answer, as for any unknown id).
  static constexpr size_t kEndedRecords = 1024;

  // Registers `transaction` under a new id, which is returned.
  std::string add(std::shared_ptr<SQLTransaction> transaction);
  std::shared_ptr<SQLTransaction> find(const std::string& id) const;
  // Removes the entry (the page ends the transaction); null when none.
  std::shared_ptr<SQLTransaction> remove(const std::string& id);

  // Why the shell ended transaction `id`, if it did and still remembers.
  std::optional<std::string> endedReason(const std::string& id) const;
  void forgetEnded(const std::string& id);

  // Removes the transactions that `page` created and records `reason` for
  // them; the caller ends them.
  std::vector<std::shared_ptr<SQLTransaction>> removePage(std::string_view page, const std::string& reason);
  // Removes every transaction; the caller ends them.
  std::vector<std::shared_ptr<SQLTransaction>> removeAll();
  // Ends (rolls back, closes) every transaction whose latest call ended
  // before `idleSince` and that no call is using now, recording `reason`.
  // Returns how many it ended.
  size_t endIdle(SQLTransaction::Clock::time_point idleSince, const std::string& reason);

  bool empty() const;

 private:
  void recordEnded(const std::string& id, const std::string& reason);  // REQUIRES: mutex_ held

  mutable std::mutex mutex_;  // guards the fields below
  std::map<std::string, std::shared_ptr<SQLTransaction>> open_;
  std::map<std::string, std::string> ended_;  // id -> reason
  std::deque<std::string> endedOrder_;        // ids in ended_, oldest first
  int64_t lastUid_ = 0;
};

}  // namespace tavero::modules::sql
