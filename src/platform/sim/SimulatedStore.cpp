#include "platform/sim/SimulatedStore.h"

#include <unicode/dcfmtsym.h>
#include <unicode/locid.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <limits>

#include "base/AtomicFile.h"
#include "base/FileRead.h"
#include "json/JsonCodec.h"
#include "log/Log.h"

namespace tavero::platform {
namespace {

constexpr uint64_t kFirstTransactionNumber = 1000000000000000;

std::string_view stateName(TransactionState state) {
  switch (state) {
    case TransactionState::purchasing: return "purchasing";
    case TransactionState::purchased: return "purchased";
    case TransactionState::failed: return "failed";
    case TransactionState::restored: return "restored";
  }
  return "purchasing";
}

std::optional<TransactionState> stateNamed(std::string_view name) {
  for (auto state : {TransactionState::purchasing, TransactionState::purchased, TransactionState::failed,
                     TransactionState::restored})
    if (stateName(state) == name) return state;
  return std::nullopt;
}

std::string textOf(const json::Object& object, std::string_view key) {
  const json::Value* value = object.find(key);
  return value && value->isString() ? value->asString() : std::string();
}

}  // namespace

std::optional<StorePolicy> storePolicyNamed(std::string_view name) {
  for (auto policy : {StorePolicy::approve, StorePolicy::fail, StorePolicy::cancel, StorePolicy::manual})
    if (storePolicyName(policy) == name) return policy;
  return std::nullopt;
}

std::string_view storePolicyName(StorePolicy policy) {
  switch (policy) {
    case StorePolicy::approve: return "approve";
    case StorePolicy::fail: return "fail";
    case StorePolicy::cancel: return "cancel";
    case StorePolicy::manual: return "manual";
  }
  return "manual";
}

SimulatedStore::SimulatedStore(StoreSettings settings, std::filesystem::path queueFile, QueueWriter writer)
    : queueFile_(std::move(queueFile)),
      writer_(writer ? std::move(writer) : QueueWriter([](const auto& file, auto content) { return base::writeFileAtomically(file, content); })),
      settings_(std::move(settings)) {
  load();
  thread_ = std::thread([this] { run(); });
}

SimulatedStore::~SimulatedStore() {
  {
    std::lock_guard lock(tasksMutex_);
    stopping_ = true;
  }
  tasksReady_.notify_all();
  thread_.join();
}

void SimulatedStore::load() {
  auto content = base::readWholeFile(queueFile_);
  if (content.error) log::error("store: " + *content.error + "; the payment queue starts empty");
  if (!content.text) return;
  auto stored = json::JsonCodec::dictionaryWithJSONString(*content.text);
  const json::Value* list = stored ? stored->find("transactions") : nullptr;
  if (!list || !list->isArray()) {
    // Kept aside, not overwritten: it may hold paid transactions.
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch()).count();
    std::filesystem::path aside = queueFile_;
    aside += ".unreadable-" + std::to_string(seconds);
    std::error_code ec;
    std::filesystem::rename(queueFile_, aside, ec);
    log::error("store: " + queueFile_.string() + " is not a payment queue; kept as " + aside.string() +
               "; the payment queue starts empty");
    return;
  }
  if (const json::Value* next = stored->find("nextTransaction"))
    nextTransaction_ = static_cast<uint64_t>(std::max<int64_t>(1, next->toInt64()));
  for (const json::Value& item : list->asArray()) {
    const json::Object* fields = item.ifObject();
    if (!fields) continue;
    StoreTransaction transaction;
    transaction.transactionIdentifier = textOf(*fields, "transactionIdentifier");
    transaction.payment.productIdentifier = textOf(*fields, "productIdentifier");
    transaction.payment.requestIdentifier = textOf(*fields, "requestIdentifier");
    auto state = stateNamed(textOf(*fields, "state"));
    if (transaction.transactionIdentifier.empty() || !state) continue;
    transaction.state = *state;
    reserveLocked(transaction.transactionIdentifier);  // "nextTransaction" may be older than the list
    if (transaction.state == TransactionState::failed)
      transaction.error = StoreError{static_cast<int>(fields->find("errorCode") ? fields->find("errorCode")->toInt64() : 0),
                                     textOf(*fields, "errorDescription")};
    queue_.push_back(std::move(transaction));
  }
  if (!queue_.empty())
    log::info("store: " + std::to_string(queue_.size()) + " unfinished transaction(s) from an earlier run");
}

std::optional<std::string> SimulatedStore::saveLocked() {
  json::Array list;
  for (const StoreTransaction& transaction : queue_) {
    json::Object fields;
    fields.append("transactionIdentifier", transaction.transactionIdentifier);
    fields.append("productIdentifier", transaction.payment.productIdentifier);
    fields.append("requestIdentifier", transaction.payment.requestIdentifier);
    fields.append("state", std::string(stateName(transaction.state)));
    if (transaction.error) {
      fields.append("errorCode", transaction.error->code);
      fields.append("errorDescription", transaction.error->localizedDescription);
    }
    list.emplace_back(std::move(fields));
  }
  json::Object stored;
  stored.append("nextTransaction", static_cast<long long>(nextTransaction_));
  stored.append("transactions", std::move(list));
  auto error = writer_(queueFile_, json::JsonCodec::jsonStringValueWithIndentLevel(stored, 0) + "\n");
  if (error) log::error("store: the payment queue could not be saved: " + *error);
  return error;
}

bool SimulatedStore::canMakePayments() const {
  std::lock_guard lock(mutex_);
  return settings_.canMakePayments;
}

void SimulatedStore::requestProducts(std::vector<std::string> identifiers, ProductsAnswer answer) {
  std::variant<std::vector<StoreProduct>, StoreError> result;
  {
    std::lock_guard lock(mutex_);
    if (settings_.productRequestFailure) {
      result = StoreError{StoreError::kUnknown, *settings_.productRequestFailure};
    } else {
      std::vector<StoreProduct> products;
      for (const StoreProduct& product : settings_.catalog)
        if (std::find(identifiers.begin(), identifiers.end(), product.identifier) != identifiers.end())
          products.push_back(product);
      result = std::move(products);
    }
  }
  post([answer = std::move(answer), result = std::move(result)] { answer(result); });
}

void SimulatedStore::reserveLocked(const std::string& identifier) {
  uint64_t number = 0;
  auto [end, error] = std::from_chars(identifier.data(), identifier.data() + identifier.size(), number);
  if (error != std::errc() || end != identifier.data() + identifier.size() || number < kFirstTransactionNumber ||
      number == std::numeric_limits<uint64_t>::max())
    return;  // not one of ours
  nextTransaction_ = std::max(nextTransaction_, number - kFirstTransactionNumber + 1);
}

void SimulatedStore::reserveTransactionIdentifiers(const std::vector<std::string>& identifiers) {
  std::lock_guard lock(mutex_);
  const uint64_t before = nextTransaction_;
  for (const std::string& identifier : identifiers) reserveLocked(identifier);
  if (nextTransaction_ != before) {
    log::warning("store: the payment queue had lost track of transactions up to " +
                 std::to_string(kFirstTransactionNumber + nextTransaction_ - 1) + "; numbering goes on from there");
    saveLocked();  // a failure is logged; the next change saves it again
  }
}

void SimulatedStore::addPayment(StorePayment payment) {
  std::lock_guard lock(mutex_);
  StoreTransaction transaction;
  transaction.transactionIdentifier = std::to_string(kFirstTransactionNumber + nextTransaction_++);
  transaction.payment = std::move(payment);
  queue_.push_back(transaction);
  if (auto error = saveLocked()) {
    // Not taken: a payment the queue cannot hold could be lost on the way.
    queue_.pop_back();
    transaction.state = TransactionState::failed;
    transaction.error = StoreError{StoreError::kUnknown, "The payment could not be recorded: " + *error};
    reportLocked({transaction});
    return;
  }
  log::info("store: payment " + transaction.transactionIdentifier + " for " +
            transaction.payment.productIdentifier + " is waiting");
  reportLocked({transaction});
  applyPolicyLocked(queue_.back());
}

void SimulatedStore::applyPolicyLocked(StoreTransaction& transaction) {
  bool known = std::any_of(settings_.catalog.begin(), settings_.catalog.end(), [&](const StoreProduct& product) {
    return product.identifier == transaction.payment.productIdentifier;
  });
  std::optional<StoreError> error;
  if (!settings_.canMakePayments) {
    error = StoreError{StoreError::kPaymentNotAllowed, "This device is not allowed to make payments."};
  } else if (!known) {
    error = StoreError{StoreError::kProductNotAvailable, "The product is not available in the store."};
  } else if (settings_.policy == StorePolicy::fail) {
    error = StoreError{StoreError::kUnknown, settings_.failureMessage};
  } else if (settings_.policy == StorePolicy::cancel) {
    error = StoreError{StoreError::kPaymentCancelled, "The payment was cancelled."};
  } else if (settings_.policy == StorePolicy::manual) {
    return;
  }
  transaction.state = error ? TransactionState::failed : TransactionState::purchased;
  transaction.error = error;
  if (auto saveError = saveLocked(); saveError && !error) {
    // An approval that is not on the disk could vanish after the page was
    // told of it: the payment is refused instead. The disk still holds it
    // as waiting (never as paid) until a later save records the refusal.
    transaction.state = TransactionState::failed;
    transaction.error = StoreError{StoreError::kUnknown, "The payment could not be recorded: " + *saveError};
  }
  reportLocked({transaction});
}

std::optional<std::string> SimulatedStore::decide(const std::string& transactionIdentifier, TransactionState state,
                                                  std::optional<StoreError> error) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(queue_.begin(), queue_.end(), [&](const StoreTransaction& transaction) {
    return transaction.transactionIdentifier == transactionIdentifier;
  });
  if (it == queue_.end()) return "no transaction " + transactionIdentifier + " in the payment queue";
  if (it->state != TransactionState::purchasing)
    return "transaction " + transactionIdentifier + " is " + std::string(stateName(it->state)) + ", not waiting";
  it->state = state;
  it->error = std::move(error);
  if (auto saveError = saveLocked()) {
    it->state = TransactionState::purchasing;
    it->error.reset();
    return "transaction " + transactionIdentifier + " still waits: " + *saveError;
  }
  reportLocked({*it});
  return std::nullopt;
}

std::optional<std::string> SimulatedStore::approve(const std::string& transactionIdentifier) {
  return decide(transactionIdentifier, TransactionState::purchased, std::nullopt);
}

std::optional<std::string> SimulatedStore::fail(const std::string& transactionIdentifier,
                                                std::optional<std::string> message) {
  std::string text = message ? *message : settings().failureMessage;
  return decide(transactionIdentifier, TransactionState::failed, StoreError{StoreError::kUnknown, text});
}

std::optional<std::string> SimulatedStore::cancel(const std::string& transactionIdentifier) {
  return decide(transactionIdentifier, TransactionState::failed,
                StoreError{StoreError::kPaymentCancelled, "The payment was cancelled."});
}

std::optional<std::string> SimulatedStore::finishTransaction(const std::string& transactionIdentifier) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(queue_.begin(), queue_.end(), [&](const StoreTransaction& transaction) {
    return transaction.transactionIdentifier == transactionIdentifier;
  });
  if (it == queue_.end()) return std::nullopt;
  StoreTransaction kept = *it;
  auto position = queue_.erase(it);
  if (auto error = saveLocked()) {
    queue_.insert(position, std::move(kept));
    return error;
  }
  return std::nullopt;
}

std::vector<StoreTransaction> SimulatedStore::transactions() const {
  std::lock_guard lock(mutex_);
  return queue_;
}

void SimulatedStore::setObserver(StoreObserver* observer) {
  std::lock_guard observing(observerMutex_);
  observer_ = observer;
  if (!observer) return;
  std::lock_guard lock(mutex_);
  if (!queue_.empty()) reportLocked(queue_);
}

void SimulatedStore::setPolicy(StorePolicy policy) {
  std::lock_guard lock(mutex_);
  settings_.policy = policy;
}

StoreSettings SimulatedStore::settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

std::string SimulatedStore::priceDescription(const StoreProduct& product) const {
  UErrorCode status = U_ZERO_ERROR;
  icu::DecimalFormatSymbols symbols(icu::Locale(product.priceLocale.c_str()), status);
  std::string separator = ".";
  if (U_SUCCESS(status)) {
    separator.clear();
    symbols.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol).toUTF8String(separator);
  }
  std::string text;
  for (char c : product.price) {
    if (c == '.')
      text += separator;
    else
      text += c;
  }
  return text;
}

void SimulatedStore::reportLocked(std::vector<StoreTransaction> transactions) {
  post([this, transactions = std::move(transactions)] {
    std::lock_guard observing(observerMutex_);
    if (observer_) observer_->paymentQueueUpdatedTransactions(transactions);
  });
}

void SimulatedStore::afterPendingReports(std::function<void()> task) { post(std::move(task)); }

void SimulatedStore::post(std::function<void()> task) {
  {
    std::lock_guard lock(tasksMutex_);
    tasks_.push_back(std::move(task));
  }
  tasksReady_.notify_one();
}

void SimulatedStore::run() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock lock(tasksMutex_);
      tasksReady_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
      if (stopping_) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

}  // namespace tavero::platform
