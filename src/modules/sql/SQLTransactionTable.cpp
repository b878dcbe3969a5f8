#include "modules/sql/SQLTransactionTable.h"

namespace tavero::modules::sql {

std::string SQLTransactionTable::add(std::shared_ptr<SQLTransaction> transaction) {
  std::lock_guard lock(mutex_);
  std::string id = std::to_string(++lastUid_);
  open_.emplace(id, std::move(transaction));
  return id;
}

std::shared_ptr<SQLTransaction> SQLTransactionTable::find(const std::string& id) const {
  std::lock_guard lock(mutex_);
  auto it = open_.find(id);
  return it == open_.end() ? nullptr : it->second;
}

std::shared_ptr<SQLTransaction> SQLTransactionTable::remove(const std::string& id) {
  std::lock_guard lock(mutex_);
  auto it = open_.find(id);
  if (it == open_.end()) return nullptr;
  auto transaction = std::move(it->second);
  open_.erase(it);
  return transaction;
}

std::optional<std::string> SQLTransactionTable::endedReason(const std::string& id) const {
  std::lock_guard lock(mutex_);
  auto it = ended_.find(id);
  if (it == ended_.end()) return std::nullopt;
  return it->second;
}

void SQLTransactionTable::forgetEnded(const std::string& id) {
  std::lock_guard lock(mutex_);
  ended_.erase(id);  // its place in endedOrder_ goes when it comes up
}

void SQLTransactionTable::recordEnded(const std::string& id, const std::string& reason) {
  ended_.insert_or_assign(id, reason);
  endedOrder_.push_back(id);
  while (endedOrder_.size() > kEndedRecords) {
    ended_.erase(endedOrder_.front());
    endedOrder_.pop_front();
  }
}

std::vector<std::shared_ptr<SQLTransaction>> SQLTransactionTable::removePage(std::string_view page,
                                                                             const std::string& reason) {
  std::vector<std::shared_ptr<SQLTransaction>> removed;
  std::lock_guard lock(mutex_);
  for (auto it = open_.begin(); it != open_.end();) {
    if (it->second->page == page) {
      recordEnded(it->first, reason);
      removed.push_back(std::move(it->second));
      it = open_.erase(it);
    } else {
      ++it;
    }
  }
  return removed;
}

std::vector<std::shared_ptr<SQLTransaction>> SQLTransactionTable::removeAll() {
  std::vector<std::shared_ptr<SQLTransaction>> removed;
  std::lock_guard lock(mutex_);
  for (auto& [id, transaction] : open_) removed.push_back(std::move(transaction));
  open_.clear();
  return removed;
}

size_t SQLTransactionTable::endIdle(SQLTransaction::Clock::time_point idleSince, const std::string& reason) {
  // Taken out under the table's lock, each with its own mutex held so that
  // no call starts on it; ended after the table's lock is released.
  std::vector<std::pair<std::shared_ptr<SQLTransaction>, std::unique_lock<std::mutex>>> idle;
  {
    std::lock_guard lock(mutex_);
    for (auto it = open_.begin(); it != open_.end();) {
      std::unique_lock use(it->second->mutex, std::try_to_lock);
      if (use.owns_lock() && it->second->lastUsed < idleSince) {
        recordEnded(it->first, reason);
        idle.emplace_back(std::move(it->second), std::move(use));
        it = open_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& [transaction, use] : idle) transaction->end(reason);
  return idle.size();
}

bool SQLTransactionTable::empty() const {
  std::lock_guard lock(mutex_);
  return open_.empty();
}

}  // namespace tavero::modules::sql
