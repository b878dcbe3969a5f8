// The simulated device's store: a product catalog from the device profile,
// payments decided by a policy (approve, fail or cancel every payment at
// once, or wait for `tavero device store approve|fail|cancel TRANSACTION`),
// and a payment queue kept in a file in the app's home, so that unfinished
// transactions come back after a restart.
//
// Reports and product answers run on a thread of the store's own, in the
// order the changes happened.
//
// Thread rules: any thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/Store.h"

namespace tavero::platform {

enum class StorePolicy { approve, fail, cancel, manual };

std::optional<StorePolicy> storePolicyNamed(std::string_view name);  // "approve", "fail", "cancel", "manual"
std::string_view storePolicyName(StorePolicy policy);

struct StoreSettings {
  bool canMakePayments = true;
  StorePolicy policy = StorePolicy::manual;
  std::string failureMessage = "The payment could not be completed.";
  // When set, every product request fails with this message.
  std::optional<std::string> productRequestFailure;
  std::vector<StoreProduct> catalog;
};

class SimulatedStore : public Store {
 public:
  // Writes the queue file; a message when it could not. Tests pass one that
  // fails as a full disk does.
  using QueueWriter = std::function<std::optional<std::string>(const std::filesystem::path&, std::string_view)>;

  // The queue is kept in `queueFile` (read now, written on every change
  // through `writer`, base::writeFileAtomically when empty).
  SimulatedStore(StoreSettings settings, std::filesystem::path queueFile, QueueWriter writer = {});
  ~SimulatedStore() override;

  bool canMakePayments() const override;
  void requestProducts(std::vector<std::string> identifiers, ProductsAnswer answer) override;
  void addPayment(StorePayment payment) override;
  std::optional<std::string> finishTransaction(const std::string& transactionIdentifier) override;
  std::vector<StoreTransaction> transactions() const override;
  // Identifiers are numbers; the next one issued is above every number reserved.
  void reserveTransactionIdentifiers(const std::vector<std::string>& identifiers) override;
  void setObserver(StoreObserver* observer) override;
  std::string priceDescription(const StoreProduct& product) const override;

  // What the user decides for a payment that waits (state purchasing).
  // A message when no such transaction waits, or when the decision could
  // not be saved (the payment then still waits).
  std::optional<std::string> approve(const std::string& transactionIdentifier);
  std::optional<std::string> fail(const std::string& transactionIdentifier, std::optional<std::string> message);
  std::optional<std::string> cancel(const std::string& transactionIdentifier);

  void setPolicy(StorePolicy policy);
  StoreSettings settings() const;

  // Runs `task` after every report queued so far (tests wait with it).
  void afterPendingReports(std::function<void()> task);

 private:
  std::optional<std::string> decide(const std::string& transactionIdentifier, TransactionState state,
                                    std::optional<StoreError> error);
  void applyPolicyLocked(StoreTransaction& transaction);
  std::optional<std::string> saveLocked();  // the message when the file could not be written
  void load();
  void reportLocked(std::vector<StoreTransaction> transactions);
  void post(std::function<void()> task);
  void run();

  void reserveLocked(const std::string& identifier);

  const std::filesystem::path queueFile_;
  const QueueWriter writer_;

  mutable std::mutex mutex_;  // guards settings_, queue_, nextTransaction_
  StoreSettings settings_;
  std::vector<StoreTransaction> queue_;
  uint64_t nextTransaction_ = 1;

  std::mutex observerMutex_;  // guards observer_; held while it is called
  StoreObserver* observer_ = nullptr;

  std::mutex tasksMutex_;  // guards tasks_ and stopping_
  std::condition_variable tasksReady_;
  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace tavero::platform
