// The platform's store: products for sale, payments, and the payment queue
// that holds every transaction until the app finishes it. Unfinished
// transactions stay in the queue from one run to the next.
//
// Thread rules: calls from any thread. Product answers and transaction
// reports come later, on the store's own thread, never inside a call.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tavero::platform {

struct StoreProduct {
  std::string identifier;
  std::string localizedTitle;
  std::string localizedDescription;
  std::string price;        // a decimal number, "." as separator: "0.99"
  std::string priceLocale;  // the locale the price is in: "de_DE"
};

struct StoreError {
  static constexpr int kUnknown = 0;
  static constexpr int kPaymentCancelled = 2;  // the user cancelled
  static constexpr int kPaymentNotAllowed = 4;
  static constexpr int kProductNotAvailable = 5;
  int code = kUnknown;
  std::string localizedDescription;
};

enum class TransactionState { purchasing = 0, purchased = 1, failed = 2, restored = 3 };

struct StorePayment {
  std::string productIdentifier;
  // Chosen by the app when it adds the payment; every report of the
  // payment's transaction carries it back.
  std::string requestIdentifier;
};

struct StoreTransaction {
  std::string transactionIdentifier;
  StorePayment payment;
  TransactionState state = TransactionState::purchasing;
  std::optional<StoreError> error;  // failed transactions only
  // Restored transactions: the transaction that first bought the product.
  std::optional<std::pair<std::string, std::string>> original;  // {transaction id, product id}
};

class StoreObserver {
 public:
  virtual ~StoreObserver() = default;
  // Transactions whose state changed, in the order they changed.
  virtual void paymentQueueUpdatedTransactions(const std::vector<StoreTransaction>& transactions) = 0;
};

class Store {
 public:
  using ProductsAnswer = std::function<void(std::variant<std::vector<StoreProduct>, StoreError>)>;

  virtual ~Store() = default;

  // Whether this device may make payments at all.
  virtual bool canMakePayments() const = 0;

  // Asks for the products named by `identifiers`; `answer` gets those the
  // store knows (identifiers it does not know are left out), or an error.
  virtual void requestProducts(std::vector<std::string> identifiers, ProductsAnswer answer) = 0;

  // Adds a payment to the queue; its transaction is reported as purchasing,
  // then as purchased or failed once the user has decided. A payment is
  // reported purchased only once that state is saved: one whose state
  // cannot be saved is reported failed, with the reason.
  virtual void addPayment(StorePayment payment) = 0;

  // Removes a transaction from the queue for good. A message when the
  // queue could not be saved (the transaction then comes back next run).
  virtual std::optional<std::string> finishTransaction(const std::string& transactionIdentifier) = 0;

  // Transaction identifiers the app already knows (the purchases it has
  // recorded, the last identifier it saw issued): the store issues none of
  // them again, nor any older one, even when its own records were lost.
  virtual void reserveTransactionIdentifiers(const std::vector<std::string>& identifiers) = 0;

  // The transactions in the queue now, oldest first.
  virtual std::vector<StoreTransaction> transactions() const = 0;

  // The one observer of the queue (null: none). A new observer is told of
  // every transaction already in the queue. Once this returns, the previous
  // observer is called no more. REQUIRES: not called from the observer.
  virtual void setObserver(StoreObserver* observer) = 0;

  // The price as decimal text with the decimal separator of its locale
  // ("0,99" for de_DE).
  virtual std::string priceDescription(const StoreProduct& product) const = 0;
};

}  // namespace tavero::platform
