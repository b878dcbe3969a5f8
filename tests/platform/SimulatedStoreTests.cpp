#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>

#include "base/AtomicFile.h"
#include "platform/sim/SimulatedStore.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;

class RecordingObserver : public StoreObserver {
 public:
  void paymentQueueUpdatedTransactions(const std::vector<StoreTransaction>& transactions) override {
    std::lock_guard lock(mutex);
    for (const auto& transaction : transactions) reports.push_back(transaction);
  }
  std::vector<StoreTransaction> take() {
    std::lock_guard lock(mutex);
    return std::exchange(reports, {});
  }
  std::mutex mutex;
  std::vector<StoreTransaction> reports;
};

// Waits until every report queued so far has been delivered.
void drain(SimulatedStore& store) {
  std::promise<void> done;
  store.afterPendingReports([&] { done.set_value(); });
  done.get_future().wait();
}

StoreSettings catalog(StorePolicy policy) {
  StoreSettings settings;
  settings.policy = policy;
  settings.catalog = {{"coins", "Coins", "A bag of coins", "0.99", "de_DE"},
                      {"gems", "Gems", "", "12", "en_US"}};
  return settings;
}

class SimulatedStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    queue_ = fs::temp_directory_path() / ("tavero-store-" + std::to_string(getpid())) / "PaymentQueue.json";
    fs::remove_all(queue_.parent_path());
  }
  void TearDown() override { fs::remove_all(queue_.parent_path()); }

  std::vector<StoreTransaction> buy(SimulatedStore& store, const std::string& product) {
    store.addPayment({product, "request-" + product});
    drain(store);
    return observer_.take();
  }

  fs::path queue_;
  RecordingObserver observer_;
};

TEST_F(SimulatedStoreTest, ReportsEachPaymentAsPurchasingThenAsThePolicyDecides) {
  struct Case {
    StorePolicy policy;
    TransactionState state;
    int errorCode;
  };
  for (auto [policy, state, errorCode] : {Case{StorePolicy::approve, TransactionState::purchased, -1},
                                          Case{StorePolicy::fail, TransactionState::failed, StoreError::kUnknown},
                                          Case{StorePolicy::cancel, TransactionState::failed, StoreError::kPaymentCancelled}}) {
    fs::remove_all(queue_.parent_path());
    SimulatedStore store(catalog(policy), queue_);
    store.setObserver(&observer_);
    auto reports = buy(store, "coins");
    ASSERT_EQ(reports.size(), 2u) << storePolicyName(policy);
    EXPECT_EQ(reports[0].state, TransactionState::purchasing);
    EXPECT_EQ(reports[1].state, state);
    EXPECT_EQ(reports[0].transactionIdentifier, reports[1].transactionIdentifier);
    EXPECT_EQ(reports[1].payment.requestIdentifier, "request-coins");
    EXPECT_EQ(reports[1].error ? reports[1].error->code : -1, errorCode);
    store.setObserver(nullptr);
  }
}

TEST_F(SimulatedStoreTest, AManualPaymentWaitsForTheUsersDecision) {
  SimulatedStore store(catalog(StorePolicy::manual), queue_);
  store.setObserver(&observer_);
  auto reports = buy(store, "coins");
  ASSERT_EQ(reports.size(), 1u);
  const std::string id = reports[0].transactionIdentifier;
  EXPECT_EQ(store.transactions().at(0).state, TransactionState::purchasing);

  EXPECT_FALSE(store.approve(id));
  drain(store);
  reports = observer_.take();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].state, TransactionState::purchased);
  EXPECT_NE(store.approve(id).value_or("").find("is purchased, not waiting"), std::string::npos);
  EXPECT_NE(store.cancel("404").value_or("").find("no transaction 404"), std::string::npos);

  auto second = buy(store, "gems")[0].transactionIdentifier;
  EXPECT_FALSE(store.fail(second, "Card declined"));
  drain(store);
  reports = observer_.take();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].error->localizedDescription, "Card declined");
  store.setObserver(nullptr);
}

TEST_F(SimulatedStoreTest, RefusesPaymentsTheDeviceOrTheCatalogDoesNotAllow) {
  auto settings = catalog(StorePolicy::approve);
  settings.canMakePayments = false;
  {
    SimulatedStore store(settings, queue_);
    EXPECT_FALSE(store.canMakePayments());
    store.setObserver(&observer_);
    EXPECT_EQ(buy(store, "coins").back().error->code, StoreError::kPaymentNotAllowed);
    store.setObserver(nullptr);
  }
  fs::remove_all(queue_.parent_path());
  SimulatedStore store(catalog(StorePolicy::approve), queue_);
  store.setObserver(&observer_);
  EXPECT_EQ(buy(store, "unknown").back().error->code, StoreError::kProductNotAvailable);
  store.setObserver(nullptr);
}

TEST_F(SimulatedStoreTest, UnfinishedTransactionsComeBackAfterARestart) {
  std::string waiting, paid, finished;
  {
    SimulatedStore store(catalog(StorePolicy::manual), queue_);
    store.setObserver(&observer_);
    waiting = buy(store, "coins")[0].transactionIdentifier;
    paid = buy(store, "gems")[0].transactionIdentifier;
    finished = buy(store, "coins")[0].transactionIdentifier;
    ASSERT_FALSE(store.approve(paid));
    ASSERT_FALSE(store.approve(finished));
    ASSERT_FALSE(store.finishTransaction(finished));
    store.setObserver(nullptr);
    drain(store);
    observer_.take();
  }
  SimulatedStore store(catalog(StorePolicy::manual), queue_);
  auto queue = store.transactions();
  ASSERT_EQ(queue.size(), 2u);
  EXPECT_EQ(queue[0].transactionIdentifier, waiting);
  EXPECT_EQ(queue[0].state, TransactionState::purchasing);
  EXPECT_EQ(queue[1].transactionIdentifier, paid);
  EXPECT_EQ(queue[1].state, TransactionState::purchased);
  EXPECT_EQ(queue[1].payment.productIdentifier, "gems");

  store.setObserver(&observer_);  // a new observer hears of the whole queue
  drain(store);
  EXPECT_EQ(observer_.take().size(), 2u);
  auto next = buy(store, "coins").back().transactionIdentifier;
  EXPECT_NE(next, waiting);
  EXPECT_NE(next, paid);
  EXPECT_NE(next, finished);  // identifiers are never reused
  EXPECT_FALSE(store.approve(waiting));  // the earlier run's payment can still be decided
  store.setObserver(nullptr);
}

TEST_F(SimulatedStoreTest, AnUnreadableQueueIsSetAsideNotOverwritten) {
  fs::create_directories(queue_.parent_path());
  std::ofstream(queue_) << "{\"transactions\": [ {\"transactionIdentifier\"";
  SimulatedStore store(catalog(StorePolicy::approve), queue_);
  EXPECT_TRUE(store.transactions().empty());
  int aside = 0;
  for (const auto& entry : fs::directory_iterator(queue_.parent_path()))
    aside += entry.path().filename().string().find(".unreadable-") != std::string::npos;
  EXPECT_EQ(aside, 1);
}

TEST_F(SimulatedStoreTest, AnswersProductRequestsWithTheProductsItKnows) {
  SimulatedStore store(catalog(StorePolicy::manual), queue_);
  std::promise<std::variant<std::vector<StoreProduct>, StoreError>> answered;
  store.requestProducts({"gems", "nope", "coins"}, [&](auto answer) { answered.set_value(answer); });
  auto answer = answered.get_future().get();
  auto& products = std::get<std::vector<StoreProduct>>(answer);
  ASSERT_EQ(products.size(), 2u);
  EXPECT_EQ(products[0].identifier, "coins");
  EXPECT_EQ(store.priceDescription(products[0]), "0,99");  // de_DE
  EXPECT_EQ(store.priceDescription(products[1]), "12");
  EXPECT_EQ(store.priceDescription({"x", "", "", "1.50", "en_US"}), "1.50");
  EXPECT_EQ(store.priceDescription({"x", "", "", "1.50", "no such locale"}), "1.50");

  auto failing = catalog(StorePolicy::manual);
  failing.productRequestFailure = "Cannot connect to the store";
  fs::remove_all(queue_.parent_path());
  SimulatedStore offline(failing, queue_);
  std::promise<std::variant<std::vector<StoreProduct>, StoreError>> refused;
  offline.requestProducts({"coins"}, [&](auto answer) { refused.set_value(answer); });
  EXPECT_EQ(std::get<StoreError>(refused.get_future().get()).localizedDescription, "Cannot connect to the store");
}

TEST_F(SimulatedStoreTest, NumbersGoOnAboveEveryIdentifierItHasSeen) {
  std::string last;
  {
    SimulatedStore store(catalog(StorePolicy::manual), queue_);
    store.setObserver(&observer_);
    buy(store, "coins");
    last = buy(store, "gems")[0].transactionIdentifier;
    store.setObserver(nullptr);
  }
  // A queue whose counter fell behind its own list.
  std::ofstream(queue_) << "{\"nextTransaction\": 1, \"transactions\": [{\"transactionIdentifier\": \"" << last
                        << "\", \"productIdentifier\": \"gems\", \"state\": \"purchased\"}]}";
  std::string next;
  {
    SimulatedStore store(catalog(StorePolicy::manual), queue_);
    store.setObserver(&observer_);
    next = buy(store, "coins").back().transactionIdentifier;
    EXPECT_GT(next, last);
    store.setObserver(nullptr);
  }
  // No queue at all: what the app reserves counts, foreign identifiers do not.
  fs::remove(queue_);
  SimulatedStore store(catalog(StorePolicy::manual), queue_);
  store.reserveTransactionIdentifiers({"T7", "", "99999999999999999999999", next, "12"});
  store.setObserver(&observer_);
  std::string after = buy(store, "coins")[0].transactionIdentifier;
  EXPECT_EQ(after.size(), next.size());
  EXPECT_GT(after, next);
  store.setObserver(nullptr);
}

// The disk fills up at each write of a payment in turn and stays full: the
// page is told a payment is paid only when a restart still finds it paid.
TEST_F(SimulatedStoreTest, APaymentIsReportedPaidOnlyOnceThatIsSaved) {
  for (int failAt = 1; failAt <= 3; ++failAt) {
    fs::remove_all(queue_.parent_path());
    std::string id;
    TransactionState told;
    {
      int writes = 0;
      SimulatedStore store(catalog(StorePolicy::approve), queue_,
                           [&](const fs::path& file, std::string_view content) -> std::optional<std::string> {
                             if (++writes >= failAt) return "cannot write " + file.string() + ": No space left on device";
                             return base::writeFileAtomically(file, content);
                           });
      store.setObserver(&observer_);
      auto reports = buy(store, "coins");
      ASSERT_FALSE(reports.empty());
      id = reports.back().transactionIdentifier;
      told = reports.back().state;
      if (told == TransactionState::failed) {
        EXPECT_NE(reports.back().error->localizedDescription.find("could not be recorded: cannot write"),
                  std::string::npos);
      }
      store.setObserver(nullptr);
    }
    EXPECT_EQ(told, failAt <= 2 ? TransactionState::failed : TransactionState::purchased) << "failing write " << failAt;
    SimulatedStore restarted(catalog(StorePolicy::approve), queue_);
    auto queue = restarted.transactions();
    if (told == TransactionState::purchased) {
      ASSERT_EQ(queue.size(), 1u) << "failing write " << failAt;
      EXPECT_EQ(queue[0].transactionIdentifier, id);
      EXPECT_EQ(queue[0].state, TransactionState::purchased);
    }
    if (told != TransactionState::purchased) {
      for (const auto& transaction : queue) EXPECT_NE(transaction.state, TransactionState::purchased) << failAt;
    }
  }
}

TEST_F(SimulatedStoreTest, AnApprovalThatCannotBeSavedLeavesThePaymentWaiting) {
  bool full = false;
  SimulatedStore store(catalog(StorePolicy::manual), queue_,
                       [&](const fs::path& file, std::string_view content) -> std::optional<std::string> {
                         if (full) return std::string("No space left on device");
                         return base::writeFileAtomically(file, content);
                       });
  store.setObserver(&observer_);
  std::string id = buy(store, "coins")[0].transactionIdentifier;
  full = true;
  EXPECT_NE(store.approve(id).value_or("").find("still waits: No space left on device"), std::string::npos);
  drain(store);
  EXPECT_TRUE(observer_.take().empty());
  EXPECT_EQ(store.transactions().at(0).state, TransactionState::purchasing);
  full = false;
  EXPECT_FALSE(store.approve(id));
  store.setObserver(nullptr);
}

}  // namespace
}  // namespace tavero::platform
