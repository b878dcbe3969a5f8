#include "modules/TQPurchase.h"

#include <random>

#include "log/Log.h"

namespace tavero::modules {

using bridge::Invocation;
using platform::TransactionState;

TQPurchase::TQPurchase(bridge::CallbackDelivery& callbacks, platform::Store& store, platform::UserDefaults& defaults)
    : callbacks_(callbacks), store_(store), defaults_(defaults) {
  std::random_device random;
  requestPrefix_ = std::to_string(random()) + "-" + std::to_string(random()) + "-";
  addOperation("canMakePayments", [this](Invocation& call) { canMakePayments(call); });
  addOperation("getProducts", [this](Invocation& call) { getProducts(call); });
  addOperation("purchase", [this](Invocation& call) { purchase(call); });
  addOperation("getPurchases", [this](Invocation& call) { getPurchases(call); });
  addOperation("complete", [this](Invocation& call) { complete(call); });
  addOperation("getCompletedPurchases", [this](Invocation& call) { getCompletedPurchases(call); });
  std::vector<std::string> known;
  if (auto last = defaults_.value(kLastTransactionKey); last && last->isString()) known.push_back(last->asString());
  if (auto purchases = defaults_.value(kPurchasesKey); purchases && purchases->isArray()) {
    for (const json::Value& item : purchases->asArray()) {
      const json::Value* id = item.isObject() ? item.asObject().find("transactionIdentifier") : nullptr;
      if (id && id->isString()) known.push_back(id->asString());
    }
  }
  store_.reserveTransactionIdentifiers(known);
  store_.setObserver(this);
}

namespace {

// Whether `a` was issued after `b`: identifiers are numbers written out,
// so a longer one is greater, and at equal length the text order is the
// number order.
bool issuedAfter(const std::string& a, const std::string& b) {
  return a.size() != b.size() ? a.size() > b.size() : a > b;
}

}  // namespace

void TQPurchase::rememberIssued(const std::string& identifier) {
  auto error = defaults_.update(std::string(kLastTransactionKey), [&](const json::Value* current) -> std::optional<json::Value> {
    if (current && current->isString() && !issuedAfter(identifier, current->asString())) return std::nullopt;
    return json::Value(identifier);
  });
  if (error) log::warning("purchase: the last transaction identifier could not be kept: " + *error);
}

TQPurchase::~TQPurchase() { store_.setObserver(nullptr); }

void TQPurchase::canMakePayments(Invocation& call) {
  callbacks_.invokeCallback(call.integer("callback"), json::Value(store_.canMakePayments()));
}

void TQPurchase::getProducts(Invocation& call) {
  Callbacks callbacks{call.integer("success"), call.integer("failure")};
  std::vector<std::string> identifiers;
  if (const json::Value* infos = call.arguments().find("productInfos"); infos && infos->isArray()) {
    for (const json::Value& info : infos->asArray()) {
      const json::Value* identifier = info.isObject() ? info.asObject().find("identifier") : nullptr;
      if (!identifier || !identifier->isString() || identifier->asString().empty()) continue;
      if (std::find(identifiers.begin(), identifiers.end(), identifier->asString()) == identifiers.end())
        identifiers.push_back(identifier->asString());
    }
  }
  if (identifiers.empty()) {
    callbacks_.invokeCallback(callbacks.failure, json::Value(std::string(kNoIdentifiersText)));
    return;
  }
  store_.requestProducts(std::move(identifiers), [this, callbacks](const auto& answer) {
    productsAnswered(callbacks, answer);
  });
}

void TQPurchase::productsAnswered(const Callbacks& callbacks,
                                  const std::variant<std::vector<platform::StoreProduct>, platform::StoreError>& answer) {
  if (const auto* error = std::get_if<platform::StoreError>(&answer)) {
    callbacks_.invokeCallback(callbacks.failure, json::Value(error->localizedDescription));
    return;
  }
  const auto& products = std::get<std::vector<platform::StoreProduct>>(answer);
  if (products.empty()) {
    callbacks_.invokeCallback(callbacks.failure, json::Value(std::string(kNoValidProductsText)));
    return;
  }
  json::Array records;
  {
    std::lock_guard lock(mutex_);
    for (const auto& product : products) identifierToProduct_[product.identifier] = product;
  }
  for (const auto& product : products) records.emplace_back(dictionaryForProduct(product));
  callbacks_.invokeCallback(callbacks.success, json::Value(std::move(records)));
}

void TQPurchase::purchase(Invocation& call) {
  Callbacks callbacks{call.integer("success"), call.integer("failure")};
  const std::string identifier(call.text("identifier"));
  platform::StorePayment payment;
  {
    std::lock_guard lock(mutex_);
    if (identifierToProduct_.find(identifier) == identifierToProduct_.end()) {
      payment.productIdentifier.clear();
    } else {
      payment.productIdentifier = identifier;
      payment.requestIdentifier = newRequestIdentifier();
      paymentToCallbacks_[payment.requestIdentifier] = callbacks;
    }
  }
  if (payment.productIdentifier.empty()) {
    std::string message = "No product \"" + identifier +
                          "\" has been returned by the store in this run: ask for it with getProducts first";
    log::warning("purchase: " + message);
    callbacks_.invokeCallback(callbacks.failure, json::Value(std::move(message)));
    return;
  }
  store_.addPayment(std::move(payment));
}

std::string TQPurchase::newRequestIdentifier() { return requestPrefix_ + std::to_string(++requestCounter_); }

std::optional<TQPurchase::Callbacks> TQPurchase::takeCallbacks(const std::string& requestIdentifier) {
  std::lock_guard lock(mutex_);
  auto it = paymentToCallbacks_.find(requestIdentifier);
  if (it == paymentToCallbacks_.end()) return std::nullopt;
  Callbacks callbacks = it->second;
  paymentToCallbacks_.erase(it);
  return callbacks;
}

void TQPurchase::paymentQueueUpdatedTransactions(const std::vector<platform::StoreTransaction>& transactions) {
  for (const auto& transaction : transactions) {
    rememberIssued(transaction.transactionIdentifier);
    switch (transaction.state) {
      case TransactionState::purchasing:
        break;  // the callbacks were recorded when the payment was added
      case TransactionState::purchased:
      case TransactionState::restored:
        // The transaction stays in the queue until the page completes it.
        if (auto callbacks = takeCallbacks(transaction.payment.requestIdentifier))
          callbacks_.invokeCallback(callbacks->success, std::nullopt);
        break;
      case TransactionState::failed: {
        auto callbacks = takeCallbacks(transaction.payment.requestIdentifier);
        bool cancelled = transaction.error && transaction.error->code == platform::StoreError::kPaymentCancelled;
        if (callbacks && !cancelled)
          callbacks_.invokeCallback(callbacks->failure,
                                    json::Value(transaction.error ? transaction.error->localizedDescription : std::string()));
        if (auto error = store_.finishTransaction(transaction.transactionIdentifier))
          log::error("purchase: a failed transaction could not be finished: " + *error);
        break;
      }
    }
  }
}

void TQPurchase::getPurchases(Invocation& call) {
  json::Array records;
  for (const auto& transaction : store_.transactions()) {
    if (transaction.state == TransactionState::purchased) {
      records.emplace_back(dictionaryForTransaction(transaction.transactionIdentifier,
                                                    transaction.payment.productIdentifier));
    } else if (transaction.state == TransactionState::restored) {
      auto [id, product] = transaction.original.value_or(
          std::pair{transaction.transactionIdentifier, transaction.payment.productIdentifier});
      records.emplace_back(dictionaryForTransaction(id, product));
    }
  }
  callbacks_.invokeCallback(call.integer("callback"), json::Value(std::move(records)));
}

void TQPurchase::complete(Invocation& call) {
  const int success = call.integer("success");
  const int failure = call.integer("failure");
  const std::string identifier(call.text("identifier"));
  // Only paid transactions can be finished: one still being paid for is not
  // a purchase yet.
  std::optional<platform::StoreTransaction> found;
  for (const auto& transaction : store_.transactions()) {
    if (transaction.transactionIdentifier == identifier &&
        (transaction.state == TransactionState::purchased || transaction.state == TransactionState::restored))
      found = transaction;
  }
  if (!found) {
    callbacks_.invokeCallback(failure, json::Value(std::string(kNoSuchPurchaseText)));
    return;
  }
  json::Object record = dictionaryForTransaction(found->transactionIdentifier, found->payment.productIdentifier);
  bool notAList = false;
  auto stored = defaults_.update(std::string(kPurchasesKey), [&](const json::Value* current) -> std::optional<json::Value> {
    json::Array list;
    if (current && !current->isNull()) {
      if (!current->isArray()) {
        notAList = true;
        return std::nullopt;
      }
      list = current->asArray();
    }
    for (const json::Value& item : list) {
      const json::Value* id = item.isObject() ? item.asObject().find("transactionIdentifier") : nullptr;
      if (id && id->isString() && id->asString() == identifier) return std::nullopt;  // stored by an earlier try
    }
    list.emplace_back(record);
    return json::Value(std::move(list));
  });
  if (notAList) stored = "the stored \"purchases\" value is not a list; it was left as it is";
  if (stored) {
    std::string message = "The purchase could not be stored: " + *stored;
    log::error("purchase: " + message);
    callbacks_.invokeCallback(failure, json::Value(std::move(message)));
    return;
  }
  if (auto error = store_.finishTransaction(identifier))
    log::error("purchase: transaction " + identifier + " is stored but stays in the queue: " + *error);
  callbacks_.invokeCallback(success, std::nullopt);
}

void TQPurchase::getCompletedPurchases(Invocation& call) {
  callbacks_.invokeCallback(call.integer("callback"), defaults_.value(kPurchasesKey));
}

json::Object TQPurchase::dictionaryForProduct(const platform::StoreProduct& product) const {
  json::Object record;
  record.append("productIdentifier", product.identifier);
  record.append("localizedTitle", product.localizedTitle);
  record.append("price", product.price.empty() ? std::string() : store_.priceDescription(product));
  record.append("localizedDescription", product.localizedDescription);
  return record;
}

json::Object TQPurchase::dictionaryForTransaction(const std::string& transactionIdentifier,
                                                  const std::string& productIdentifier) {
  json::Object record;
  record.append("productIdentifier", productIdentifier);
  record.append("transactionIdentifier", transactionIdentifier);
  return record;
}

}  // namespace tavero::modules
