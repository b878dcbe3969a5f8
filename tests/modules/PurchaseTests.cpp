#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "modules/RecordingCallbacks.h"
#include "modules/TQPurchase.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/sim/SimulatedStore.h"

#include <future>
#include <thread>

namespace tavero::modules {
namespace {

namespace fs = std::filesystem;
using platform::StoreTransaction;
using platform::TransactionState;
using test::call;

// A store whose answers and reports the test sends.
class FakeStore : public platform::Store {
 public:
  bool canMakePayments() const override { return allowed; }
  void requestProducts(std::vector<std::string> identifiers, ProductsAnswer answer) override {
    requests.push_back(identifiers);
    pendingAnswer = std::move(answer);
  }
  void addPayment(platform::StorePayment payment) override {
    StoreTransaction transaction;
    transaction.transactionIdentifier = "T" + std::to_string(++counter);
    transaction.payment = std::move(payment);
    queue.push_back(transaction);
  }
  std::optional<std::string> finishTransaction(const std::string& id) override {
    finished.push_back(id);
    std::erase_if(queue, [&](const StoreTransaction& t) { return t.transactionIdentifier == id; });
    return std::nullopt;
  }
  std::vector<StoreTransaction> transactions() const override { return queue; }
  void reserveTransactionIdentifiers(const std::vector<std::string>& identifiers) override { reserved = identifiers; }
  void setObserver(platform::StoreObserver* next) override { observer = next; }
  std::string priceDescription(const platform::StoreProduct& product) const override {
    return product.price + " in " + product.priceLocale;
  }

  // Moves transaction `id` to `state` and reports it.
  void report(const std::string& id, TransactionState state, std::optional<platform::StoreError> error = std::nullopt) {
    for (auto& transaction : queue) {
      if (transaction.transactionIdentifier != id) continue;
      transaction.state = state;
      transaction.error = error;
      auto copy = transaction;
      observer->paymentQueueUpdatedTransactions({copy});
      return;
    }
    ADD_FAILURE() << "no transaction " << id;
  }

  bool allowed = true;
  int counter = 0;
  std::vector<std::vector<std::string>> requests;
  ProductsAnswer pendingAnswer;
  std::vector<StoreTransaction> queue;
  std::vector<std::string> finished;
  std::vector<std::string> reserved;
  platform::StoreObserver* observer = nullptr;
};

class PurchaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("tavero-purchase-" + std::to_string(getpid()));
    fs::remove_all(folder_);
    restart();
  }
  void TearDown() override {
    purchase_.reset();
    fs::remove_all(folder_);
  }

  // A new run: the module and the defaults made again, the store kept.
  void restart() {
    purchase_.reset();
    defaults_ = std::make_unique<platform::FileUserDefaults>(folder_ / "app.json");
    purchase_ = std::make_unique<TQPurchase>(callbacks_, store_, *defaults_);
  }

  std::vector<test::RecordingCallbacks::Delivery> run(const std::string& operation, const test::Arguments& arguments) {
    call(*purchase_, operation, arguments);
    return callbacks_.take();
  }

  // getProducts answered by the store with `products`.
  // Waits until the store has sent every report it owes.
  static void waitForReports(platform::SimulatedStore& store) {
    std::promise<void> done;
    store.afterPendingReports([&] { done.set_value(); });
    done.get_future().wait();
  }

  void offer(std::vector<platform::StoreProduct> products) {
    run("getProducts", {{"success", "1"}, {"failure", "2"}, {"productInfos", json::Array{}}});
    json::Array infos;
    for (const auto& product : products) {
      json::Object info;
      info.append("identifier", product.identifier);
      infos.emplace_back(std::move(info));
    }
    run("getProducts", {{"success", "1"}, {"failure", "2"}, {"productInfos", infos}});
    store_.pendingAnswer(products);
    callbacks_.take();
  }

  // Buys `product` and has the store report it paid; its transaction id.
  std::string buy(const std::string& product) {
    run("purchase", {{"success", "5"}, {"failure", "6"}, {"identifier", product}});
    std::string id = store_.queue.back().transactionIdentifier;
    store_.report(id, TransactionState::purchasing);
    store_.report(id, TransactionState::purchased);
    return id;
  }

  fs::path folder_;
  test::RecordingCallbacks callbacks_;
  FakeStore store_;
  std::unique_ptr<platform::FileUserDefaults> defaults_;
  std::unique_ptr<TQPurchase> purchase_;
  const platform::StoreProduct coins_{"coins", "Coins", "A bag of coins", "0.99", "de_DE"};
  const platform::StoreProduct gems_{"gems", "", "", "", "en_US"};
};

TEST_F(PurchaseTest, CanMakePaymentsIsAJSONBoolean) {
  auto delivered = run("canMakePayments", {{"callback", "3"}});
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].value, json::Value(true));
  store_.allowed = false;
  EXPECT_EQ(test::text(run("canMakePayments", {{"callback", "3"}}).at(0).value), "false");
}

TEST_F(PurchaseTest, AsksTheStoreForEachIdentifierOnce) {
  json::Array infos;
  for (auto id : {"coins", "gems", "coins"}) {
    json::Object info;
    info.append("identifier", id);
    infos.emplace_back(std::move(info));
  }
  infos.emplace_back(json::Value("not an object"));
  run("getProducts", {{"success", "1"}, {"failure", "2"}, {"productInfos", infos}});
  ASSERT_EQ(store_.requests.size(), 1u);
  EXPECT_EQ(store_.requests[0], (std::vector<std::string>{"coins", "gems"}));
  store_.pendingAnswer(std::vector<platform::StoreProduct>{coins_, gems_});
  auto delivered = callbacks_.take();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].id, 1);
  EXPECT_EQ(test::text(delivered[0].value),
            "[{ \"productIdentifier\" : \"coins\", \"localizedTitle\" : \"Coins\", \"price\" : \"0.99 in de_DE\", "
            "\"localizedDescription\" : \"A bag of coins\"}, { \"productIdentifier\" : \"gems\", \"localizedTitle\" : "
            "\"\", \"price\" : \"\", \"localizedDescription\" : \"\"}]");
}

TEST_F(PurchaseTest, ReportsMissingIdentifiersAndEmptyOrFailedAnswers) {
  for (const test::Arguments& arguments :
       {test::Arguments{}, test::Arguments{{"productInfos", "coins"}}, test::Arguments{{"productInfos", json::Array{}}},
        test::Arguments{{"productInfos", json::Array{json::Value(json::Object{})}}}}) {
    test::Arguments withCallbacks = arguments;
    withCallbacks.emplace_back("success", "1");
    withCallbacks.emplace_back("failure", "2");
    auto delivered = run("getProducts", withCallbacks);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].id, 2);
    EXPECT_EQ(delivered[0].value, json::Value("No product identifiers specified"));
  }
  EXPECT_TRUE(store_.requests.empty());

  json::Object info;
  info.append("identifier", "nothing");
  run("getProducts", {{"success", "1"}, {"failure", "2"}, {"productInfos", json::Array{json::Value(info)}}});
  store_.pendingAnswer(std::vector<platform::StoreProduct>{});
  EXPECT_EQ(callbacks_.take().at(0).value, json::Value("No valid products available in the store"));
  run("getProducts", {{"success", "1"}, {"failure", "2"}, {"productInfos", json::Array{json::Value(info)}}});
  store_.pendingAnswer(platform::StoreError{0, "Cannot connect"});
  EXPECT_EQ(callbacks_.take().at(0).value, json::Value("Cannot connect"));
}

TEST_F(PurchaseTest, FailsToBuyAProductTheStoreNeverReturned) {
  auto delivered = run("purchase", {{"success", "5"}, {"failure", "6"}, {"identifier", "coins"}});
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].id, 6);
  EXPECT_NE(delivered[0].value->asString().find("No product \"coins\""), std::string::npos);
  EXPECT_TRUE(store_.queue.empty());
}

TEST_F(PurchaseTest, APaidPurchaseWaitsForCompletionAndIsStoredInOrderAcrossRestarts) {
  offer({coins_, gems_});
  std::string first = buy("coins");
  auto delivered = callbacks_.take();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].id, 5);
  EXPECT_FALSE(delivered[0].value);  // success carries no value

  EXPECT_EQ(test::text(run("getPurchases", {{"callback", "7"}}).at(0).value),
            "[{ \"productIdentifier\" : \"coins\", \"transactionIdentifier\" : \"" + first + "\"}]");
  EXPECT_FALSE(run("getCompletedPurchases", {{"callback", "8"}}).at(0).value);

  std::string second = buy("gems");
  callbacks_.take();
  delivered = run("complete", {{"success", "9"}, {"failure", "10"}, {"identifier", second}});
  EXPECT_EQ(delivered.at(0).id, 9);
  delivered = run("complete", {{"success", "9"}, {"failure", "10"}, {"identifier", first}});
  EXPECT_EQ(delivered.at(0).id, 9);
  EXPECT_EQ(store_.finished, (std::vector<std::string>{second, first}));
  EXPECT_EQ(test::text(run("getPurchases", {{"callback", "7"}}).at(0).value), "[]");

  delivered = run("complete", {{"success", "9"}, {"failure", "10"}, {"identifier", first}});
  EXPECT_EQ(delivered.at(0).id, 10);
  EXPECT_EQ(delivered.at(0).value, json::Value("No purchase with specified transaction identifier"));

  restart();
  EXPECT_EQ(test::text(run("getCompletedPurchases", {{"callback", "8"}}).at(0).value),
            "[{ \"productIdentifier\" : \"gems\", \"transactionIdentifier\" : \"" + second +
                "\"}, { \"productIdentifier\" : \"coins\", \"transactionIdentifier\" : \"" + first + "\"}]");
}

TEST_F(PurchaseTest, ACancelIsSilentAndAFailureIsReported) {
  offer({coins_});
  run("purchase", {{"success", "5"}, {"failure", "6"}, {"identifier", "coins"}});
  store_.report("T1", TransactionState::failed, platform::StoreError{2, "Cancelled"});
  EXPECT_TRUE(callbacks_.take().empty());
  run("purchase", {{"success", "5"}, {"failure", "6"}, {"identifier", "coins"}});
  store_.report("T2", TransactionState::failed, platform::StoreError{0, "Card declined"});
  auto delivered = callbacks_.take();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].id, 6);
  EXPECT_EQ(delivered[0].value, json::Value("Card declined"));
  EXPECT_EQ(store_.finished, (std::vector<std::string>{"T1", "T2"}));  // both leave the queue
}

TEST_F(PurchaseTest, EachPurchaseAnswersItsOwnCallbacks) {
  offer({coins_, gems_});
  run("purchase", {{"success", "11"}, {"failure", "12"}, {"identifier", "coins"}});
  run("purchase", {{"success", "21"}, {"failure", "22"}, {"identifier", "gems"}});
  store_.report("T1", TransactionState::purchasing);
  store_.report("T2", TransactionState::purchasing);
  store_.report("T1", TransactionState::purchased);
  store_.report("T2", TransactionState::failed, platform::StoreError{0, "No"});
  auto delivered = callbacks_.take();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].id, 11);
  EXPECT_EQ(delivered[1].id, 22);
}

TEST_F(PurchaseTest, OnlyPaidTransactionsCanBeCompleted) {
  offer({coins_});
  run("purchase", {{"success", "5"}, {"failure", "6"}, {"identifier", "coins"}});
  store_.report("T1", TransactionState::purchasing);
  auto delivered = run("complete", {{"success", "9"}, {"failure", "10"}, {"identifier", "T1"}});
  EXPECT_EQ(delivered.at(0).id, 10);
  EXPECT_TRUE(store_.finished.empty());
  EXPECT_FALSE(defaults_->value("purchases"));
}

TEST_F(PurchaseTest, AReportFromAnEarlierRunAnswersNoOne) {
  offer({coins_});
  std::string id = buy("coins");
  callbacks_.take();
  restart();  // the transaction is still in the queue, paid
  store_.report(id, TransactionState::purchased);
  EXPECT_TRUE(callbacks_.take().empty());
  EXPECT_NE(test::text(run("getPurchases", {{"callback", "7"}}).at(0).value).find(id), std::string::npos);
}

TEST_F(PurchaseTest, APurchaseThatCannotBeStoredStaysInTheQueue) {
  offer({coins_});
  std::string id = buy("coins");
  callbacks_.take();
  ASSERT_FALSE(defaults_->setValue("purchases", json::Value("not a list")));
  auto delivered = run("complete", {{"success", "9"}, {"failure", "10"}, {"identifier", id}});
  EXPECT_EQ(delivered.at(0).id, 10);
  EXPECT_NE(delivered.at(0).value->asString().find("could not be stored"), std::string::npos);
  EXPECT_TRUE(store_.finished.empty());
  EXPECT_EQ(defaults_->value("purchases"), json::Value("not a list"));

  // A record stored by an earlier try that did not finish is not stored twice.
  json::Object record;
  record.append("productIdentifier", "coins");
  record.append("transactionIdentifier", id);
  ASSERT_FALSE(defaults_->setValue("purchases", json::Array{json::Value(record)}));
  EXPECT_EQ(run("complete", {{"success", "9"}, {"failure", "10"}, {"identifier", id}}).at(0).id, 9);
  EXPECT_EQ(defaults_->value("purchases")->asArray().size(), 1u);
}

// On the simulated store, whose reports come on its own thread while pages
// buy from several dispatch threads at once.
TEST_F(PurchaseTest, PurchasesFromManyThreadsEachGetTheirOwnAnswer) {
  platform::StoreSettings settings;
  settings.policy = platform::StorePolicy::approve;
  settings.catalog = {coins_};
  platform::SimulatedStore store(settings, folder_ / "PaymentQueue.json");
  test::RecordingCallbacks callbacks;
  {
    TQPurchase purchase(callbacks, store, *defaults_);
    json::Object info;
    info.append("identifier", "coins");
    call(purchase, "getProducts", {{"success", "1"}, {"failure", "2"}, {"productInfos", json::Array{json::Value(info)}}});
    waitForReports(store);
    callbacks.take();

    std::vector<std::thread> buyers;
    for (int t = 0; t < 4; ++t)
      buyers.emplace_back([&, t] {
        for (int i = 0; i < 5; ++i) {
          int id = 100 + t * 10 + i;
          call(purchase, "purchase", {{"success", std::to_string(id)}, {"failure", "9"}, {"identifier", "coins"}});
        }
      });
    for (auto& buyer : buyers) buyer.join();
    waitForReports(store);

    std::vector<int> ids;
    for (const auto& delivery : callbacks.take()) ids.push_back(delivery.id);
    std::sort(ids.begin(), ids.end());
    std::vector<int> expected;
    for (int t = 0; t < 4; ++t)
      for (int i = 0; i < 5; ++i) expected.push_back(100 + t * 10 + i);
    EXPECT_EQ(ids, expected);  // each success once, none lost to another purchase

    std::vector<std::thread> completers;
    auto paid = store.transactions();
    ASSERT_EQ(paid.size(), 20u);
    for (int t = 0; t < 4; ++t)
      completers.emplace_back([&, t] {
        for (int i = t; i < 20; i += 4)
          call(purchase, "complete", {{"success", "7"}, {"failure", "8"}, {"identifier", paid[i].transactionIdentifier}});
      });
    for (auto& completer : completers) completer.join();
  }
  EXPECT_TRUE(store.transactions().empty());
  EXPECT_EQ(defaults_->value("purchases")->asArray().size(), 20u);
}

// The queue file lost (deleted, or set aside as unreadable) while the user
// defaults stay: numbering must not start again at the completed purchases'
// identifiers, which complete would take as stored already.
TEST_F(PurchaseTest, AStoreThatLostItsQueueNeverIssuesAKnownIdentifierAgain) {
  platform::StoreSettings settings;
  settings.policy = platform::StorePolicy::approve;
  settings.catalog = {coins_};
  const fs::path queue = folder_ / "Store" / "PaymentQueue.json";
  auto runOnce = [&](bool completeIt) {
    platform::SimulatedStore store(settings, queue);
    test::RecordingCallbacks callbacks;
    TQPurchase purchase(callbacks, store, *defaults_);
    json::Object info;
    info.append("identifier", "coins");
    call(purchase, "getProducts", {{"success", "1"}, {"failure", "2"}, {"productInfos", json::Array{json::Value(info)}}});
    waitForReports(store);
    call(purchase, "purchase", {{"success", "5"}, {"failure", "6"}, {"identifier", "coins"}});
    waitForReports(store);
    std::string id = store.transactions().at(0).transactionIdentifier;
    if (completeIt) call(purchase, "complete", {{"success", "7"}, {"failure", "8"}, {"identifier", id}});
    auto delivered = callbacks.take();
    EXPECT_EQ(delivered.back().id, completeIt ? 7 : 5);
    return id;
  };
  std::string first = runOnce(true);
  fs::remove(queue);
  std::string second = runOnce(true);
  EXPECT_NE(second, first);
  ASSERT_EQ(defaults_->value("purchases")->asArray().size(), 2u);  // both recorded

  // The last payment was never completed: only the kept last identifier knows it.
  std::string third = runOnce(false);
  fs::remove(queue);
  std::string fourth = runOnce(true);
  EXPECT_NE(fourth, third);
  EXPECT_NE(fourth, second);
  EXPECT_EQ(defaults_->value("purchases")->asArray().size(), 3u);
}

TEST_F(PurchaseTest, TellsTheStoreEveryIdentifierItKnows) {
  offer({coins_});
  std::string paid = buy("coins");
  run("complete", {{"success", "9"}, {"failure", "10"}, {"identifier", paid}});
  std::string waiting = buy("coins");
  restart();
  EXPECT_EQ(store_.reserved, (std::vector<std::string>{waiting, paid}));
}

}  // namespace
}  // namespace tavero::modules
