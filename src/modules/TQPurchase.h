// The purchase module: in-app products through the platform's store.
//
// The page asks for products (getProducts), buys one (purchase: success once
// it is paid), lists paid purchases not yet delivered (getPurchases),
// completes them once delivered (complete: the transaction leaves the
// store's queue and joins the "purchases" list in the user defaults), and
// reads that list (getCompletedPurchases). Answers go to the start page.
//
// Each getProducts and purchase answers the callbacks of its own request,
// also when several are under way at once. A purchase of a product that no
// store answer of this run returned fails at once with a message. complete
// stores the record durably before the transaction leaves the queue, and
// stores a transaction at most once, so a crash or a full disk can neither
// lose a paid purchase nor list it twice.
//
// The last transaction identifier the store issued is kept in the user
// defaults too; at start the store is told it and every completed
// purchase's identifier, so that losing the store's queue file never makes
// it issue an identifier again (a repeated one would look completed already).
//
// Thread rules: operations on any thread; store reports on the store's
// thread. The product map and the owed callbacks are guarded by mutex_.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "bridge/CallbackDelivery.h"
#include "bridge/TQW3CAction.h"
#include "platform/Store.h"
#include "platform/UserDefaults.h"

namespace tavero::modules {

class TQPurchase final : public bridge::TQW3CAction, private platform::StoreObserver {
 public:
  static constexpr std::string_view className = "TQPurchase";
  static constexpr std::string_view kPurchasesKey = "purchases";
  static constexpr std::string_view kLastTransactionKey = "lastTransactionIdentifier";
  static constexpr std::string_view kNoIdentifiersText = "No product identifiers specified";
  static constexpr std::string_view kNoValidProductsText = "No valid products available in the store";
  static constexpr std::string_view kNoSuchPurchaseText = "No purchase with specified transaction identifier";

  // Observes `store` until destroyed; both services must outlive the module.
  TQPurchase(bridge::CallbackDelivery& callbacks, platform::Store& store, platform::UserDefaults& defaults);
  ~TQPurchase() override;

  void canMakePayments(bridge::Invocation& call);
  void getProducts(bridge::Invocation& call);
  void purchase(bridge::Invocation& call);
  void getPurchases(bridge::Invocation& call);
  void complete(bridge::Invocation& call);
  void getCompletedPurchases(bridge::Invocation& call);

 private:
  struct Callbacks {
    int success = 0;
    int failure = 0;
  };

  void paymentQueueUpdatedTransactions(const std::vector<platform::StoreTransaction>& transactions) override;
  void productsAnswered(const Callbacks& callbacks,
                        const std::variant<std::vector<platform::StoreProduct>, platform::StoreError>& answer);
  // The callbacks owed for a payment, taken out of the map.
  std::optional<Callbacks> takeCallbacks(const std::string& requestIdentifier);
  json::Object dictionaryForProduct(const platform::StoreProduct& product) const;
  static json::Object dictionaryForTransaction(const std::string& transactionIdentifier,
                                               const std::string& productIdentifier);
  std::string newRequestIdentifier();
  // Keeps `identifier` as the last one issued when it is newer than the one kept.
  void rememberIssued(const std::string& identifier);

  bridge::CallbackDelivery& callbacks_;
  platform::Store& store_;
  platform::UserDefaults& defaults_;

  std::mutex mutex_;  // guards the fields below
  std::map<std::string, platform::StoreProduct> identifierToProduct_;
  std::map<std::string, Callbacks> paymentToCallbacks_;  // by the payment's request identifier
  uint64_t requestCounter_ = 0;
  std::string requestPrefix_;  // tells this run's payments from earlier runs'
};

}  // namespace tavero::modules
