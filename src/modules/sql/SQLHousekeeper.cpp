#include "modules/sql/SQLHousekeeper.h"

#include <malloc.h>

#include <algorithm>

#include "log/Log.h"

namespace tavero::modules::sql {
namespace {

// Long enough for an answer to have been written to the page.
constexpr std::chrono::seconds kReleaseMemoryAfter{1};

}  // namespace

SQLHousekeeper::SQLHousekeeper(SQLTransactionTable& table, std::chrono::milliseconds idleLimit, Clock clock)
    : table_(table), idleLimit_(idleLimit), clock_(std::move(clock)), thread_([this] { run(); }) {}

SQLHousekeeper::~SQLHousekeeper() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

std::string SQLHousekeeper::idleReason() const {
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(idleLimit_).count();
  return "the transaction was rolled back after being idle for more than " +
         (seconds > 0 ? std::to_string(seconds) + " seconds"
                      : std::to_string(idleLimit_.count()) + " milliseconds");
}

size_t SQLHousekeeper::endIdleTransactions() {
  size_t ended = table_.endIdle(clock_() - idleLimit_, idleReason());
  if (ended > 0) log::info("SQL: rolled back " + std::to_string(ended) + " idle transaction(s)");
  return ended;
}

void SQLHousekeeper::transactionAdded() {
  {
    std::lock_guard lock(mutex_);
    ++additions_;
    poked_ = true;
  }
  wake_.notify_all();
}

void SQLHousekeeper::endLater(std::vector<std::shared_ptr<SQLTransaction>> transactions, std::string reason) {
  if (transactions.empty()) return;
  {
    std::lock_guard lock(mutex_);
    for (auto& transaction : transactions) toEnd_.emplace_back(std::move(transaction), reason);
    poked_ = true;
  }
  wake_.notify_all();
}

void SQLHousekeeper::releaseMemorySoon() {
  {
    std::lock_guard lock(mutex_);
    releaseMemoryAt_ = std::chrono::steady_clock::now() + kReleaseMemoryAfter;
    poked_ = true;
  }
  wake_.notify_all();
}

void SQLHousekeeper::run() {
  const auto period = std::max<std::chrono::milliseconds>(idleLimit_ / 4, std::chrono::milliseconds(10));
  std::unique_lock lock(mutex_);
  for (;;) {
    poked_ = false;
    // Transactions handed over are ended outside the lock: waiting for a
    // call on one to finish must not block the operations above.
    while (!toEnd_.empty()) {
      auto [transaction, reason] = std::move(toEnd_.back());
      toEnd_.pop_back();
      lock.unlock();
      {
        std::lock_guard use(transaction->mutex);
        transaction->end(reason);
      }
      transaction.reset();
      lock.lock();
    }
    if (stopping_) return;

    if (additions_ != additionsSeen_) {
      additionsSeen_ = additions_;
      watching_ = true;
    }
    if (watching_) {
      lock.unlock();
      endIdleTransactions();
      const bool empty = table_.empty();
      lock.lock();
      // Added meanwhile: keep watching.
      if (empty && additions_ == additionsSeen_) watching_ = false;
    }
    auto now = std::chrono::steady_clock::now();
    if (releaseMemoryAt_ && *releaseMemoryAt_ <= now) {
      releaseMemoryAt_.reset();
      lock.unlock();
      ::malloc_trim(0);
      lock.lock();
    }

    auto wakeAt = watching_ ? now + period : std::chrono::steady_clock::time_point::max();
    if (releaseMemoryAt_) wakeAt = std::min(wakeAt, *releaseMemoryAt_);
    auto poked = [this] { return poked_ || stopping_; };
    if (wakeAt == std::chrono::steady_clock::time_point::max())
      wake_.wait(lock, poked);
    else
      wake_.wait_until(lock, wakeAt, poked);
  }
}

}  // namespace tavero::modules::sql
