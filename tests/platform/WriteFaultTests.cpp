// The user defaults and the store's payment queue on a disk whose writes
// fail: each step of a save (each write, flush and rename) fails in turn.
// The file on disk must then be the last good one, whole and readable, the
// failure must be reported, nothing already saved may be lost, and the
// next save must record everything.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <future>

#include "json/JsonCodec.h"
#include "platform/linux/FileUserDefaults.h"
#include "platform/sim/SimulatedStore.h"
#include "support/CapturedLog.h"
#include "support/FailingWrites.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;
using testing::FailingWrites;

// The steps of a save are fewer than this; a sweep that reaches it fails.
constexpr int kMaxSteps = 30;

class WriteFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("tavero-faults-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  // The names in the folder other than `file`: temporary files left behind.
  std::vector<std::string> leftoversBeside(const fs::path& file) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(file.parent_path()))
      if (entry.path() != file) names.push_back(entry.path().filename());
    return names;
  }

  fs::path folder_;
  FailingWrites disk_;
  testing::CapturedLog log_;
};

TEST_F(WriteFaults, UserDefaultsKeepTheLastSavedValuesAndReportTheFailure) {
  const fs::path file = folder_ / "Preferences" / "com.example.app.json";
  int step = 1;
  for (; step <= kMaxSteps; ++step) {
    SCOPED_TRACE("failing step " + std::to_string(step));
    fs::remove_all(file.parent_path());
    disk_.failOperation(0);
    FileUserDefaults defaults(file);
    ASSERT_FALSE(defaults.setValue("saved", json::Value("before")));

    disk_.failOperation(step);
    auto error = defaults.setValue("changed", json::Value(std::string(20000, 'c')));
    EXPECT_TRUE(leftoversBeside(file).empty());
    if (!disk_.failed()) {
      EXPECT_FALSE(error);
      break;
    }
    FileUserDefaults reread(file);  // what the next launch finds
    EXPECT_EQ(reread.value("saved"), json::Value("before"));
    if (error) {
      EXPECT_TRUE(log_.has("defaults: " + *error)) << log_.all();
      EXPECT_FALSE(defaults.value("changed")) << "kept in memory though not saved";
      EXPECT_FALSE(reread.value("changed"));
    } else {
      EXPECT_TRUE(reread.value("changed")) << "reported saved but not on disk";
    }
    // The disk works again: the next change saves everything.
    disk_.failOperation(0);
    ASSERT_FALSE(defaults.setValue("after", json::Value(true)));
    FileUserDefaults later(file);
    EXPECT_EQ(later.value("saved"), json::Value("before"));
    EXPECT_EQ(later.value("after"), json::Value(true));
    EXPECT_EQ(later.value("changed").has_value(), !error);
  }
  EXPECT_LT(step, kMaxSteps) << "a save never succeeded";
  EXPECT_GE(step, 4) << "fewer steps than a write, two flushes and a rename";
}

void drain(SimulatedStore& store) {
  std::promise<void> done;
  store.afterPendingReports([&] { done.set_value(); });
  done.get_future().wait();
}

class Reports : public StoreObserver {
 public:
  void paymentQueueUpdatedTransactions(const std::vector<StoreTransaction>& transactions) override {
    std::lock_guard lock(mutex_);
    reports_.insert(reports_.end(), transactions.begin(), transactions.end());
  }
  std::vector<StoreTransaction> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(reports_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<StoreTransaction> reports_;
};

StoreSettings manualStore() {
  StoreSettings settings;
  settings.policy = StorePolicy::manual;
  settings.catalog = {{"coins", "Coins", "A bag of coins", "0.99", "en_US"}};
  return settings;
}

std::optional<TransactionState> stateOn(const fs::path& queue, const std::string& id) {
  SimulatedStore reread(manualStore(), queue);
  for (const auto& transaction : reread.transactions())
    if (transaction.transactionIdentifier == id) return transaction.state;
  return std::nullopt;
}

TEST_F(WriteFaults, TheStoreNeverReportsAPaymentOrDecisionItCouldNotSave) {
  const fs::path queue = folder_ / "Store" / "PaymentQueue.json";
  int step = 1;
  for (; step <= kMaxSteps; ++step) {
    SCOPED_TRACE("failing step " + std::to_string(step));
    fs::remove_all(queue.parent_path());
    disk_.failOperation(0);
    Reports reports;
    SimulatedStore store(manualStore(), queue);
    store.setObserver(&reports);
    store.addPayment({"coins", "first"});
    drain(store);
    auto first = reports.take();
    ASSERT_EQ(first.size(), 1u);
    const std::string waiting = first[0].transactionIdentifier;

    // A second payment while the disk fails.
    disk_.failOperation(step);
    store.addPayment({"coins", "second"});
    drain(store);
    auto second = reports.take();
    ASSERT_EQ(second.size(), 1u);
    const bool secondFailed = disk_.failed();
    EXPECT_TRUE(leftoversBeside(queue).empty());
    if (second[0].state == TransactionState::failed) {
      EXPECT_TRUE(secondFailed);
      EXPECT_NE(second[0].error->localizedDescription.find("could not be recorded"), std::string::npos);
      EXPECT_TRUE(log_.has("store: the payment queue could not be saved")) << log_.all();
      EXPECT_FALSE(stateOn(queue, second[0].transactionIdentifier));
    } else {
      EXPECT_EQ(stateOn(queue, second[0].transactionIdentifier), TransactionState::purchasing);
    }
    EXPECT_EQ(stateOn(queue, waiting), TransactionState::purchasing) << "the earlier payment was lost";

    // Approving the first while the disk fails.
    disk_.failOperation(step);
    auto refused = store.approve(waiting);
    drain(store);
    EXPECT_TRUE(leftoversBeside(queue).empty());
    if (refused) {
      EXPECT_TRUE(disk_.failed());
      EXPECT_NE(refused->find("still waits"), std::string::npos) << *refused;
      EXPECT_TRUE(reports.take().empty()) << "an approval that was not saved was reported";
      EXPECT_EQ(stateOn(queue, waiting), TransactionState::purchasing);
      disk_.failOperation(0);
      ASSERT_FALSE(store.approve(waiting));
    }
    EXPECT_EQ(stateOn(queue, waiting), TransactionState::purchased);

    // Finishing it while the disk fails: it stays in the queue until saved.
    disk_.failOperation(step);
    auto unfinished = store.finishTransaction(waiting);
    EXPECT_TRUE(leftoversBeside(queue).empty());
    if (unfinished) {
      EXPECT_EQ(stateOn(queue, waiting), TransactionState::purchased);
      EXPECT_EQ(store.transactions().front().transactionIdentifier, waiting);
    } else {
      EXPECT_FALSE(stateOn(queue, waiting));
    }
    store.setObserver(nullptr);
    if (!secondFailed && !refused && !unfinished && !disk_.failed()) break;
  }
  EXPECT_LT(step, kMaxSteps) << "a save never succeeded";
}

}  // namespace
}  // namespace tavero::platform
