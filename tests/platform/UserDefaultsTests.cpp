#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "json/JsonCodec.h"
#include "platform/linux/FileUserDefaults.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;

class UserDefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("tavero-defaults-" + std::to_string(getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    file_ = folder_ / "com.example.app.json";
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Appends `n` to the list under "purchases".
  static std::optional<std::string> append(UserDefaults& defaults, int n) {
    return defaults.update("purchases", [n](const json::Value* current) {
      json::Array list = current && current->isArray() ? current->asArray() : json::Array{};
      json::Object record;
      record.append("transactionIdentifier", std::to_string(n));
      record.append("padding", std::string(4096, 'x'));  // big enough that writes take a while
      list.emplace_back(std::move(record));
      return std::optional<json::Value>(json::Value(std::move(list)));
    });
  }

  static std::vector<std::string> identifiers(const UserDefaults& defaults) {
    std::vector<std::string> ids;
    auto list = defaults.value("purchases");
    if (!list || !list->isArray()) return ids;
    for (const auto& item : list->asArray()) ids.push_back(item.asObject().find("transactionIdentifier")->asString());
    return ids;
  }

  std::vector<fs::path> leftovers() const {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder_))
      if (entry.path() != file_) found.push_back(entry.path());
    return found;
  }

  fs::path folder_;
  fs::path file_;
};

TEST_F(UserDefaultsTest, KeepsValuesFromOneRunToTheNext) {
  {
    FileUserDefaults defaults(file_);
    EXPECT_FALSE(defaults.value("purchases"));
    ASSERT_FALSE(defaults.setValue("name", json::Value("caf\u00e9 \"quoted\"")));
    ASSERT_FALSE(append(defaults, 1));
    ASSERT_FALSE(append(defaults, 2));
  }
  FileUserDefaults again(file_);
  EXPECT_EQ(again.value("name"), json::Value("caf\u00e9 \"quoted\""));
  EXPECT_EQ(identifiers(again), (std::vector<std::string>{"1", "2"}));
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(UserDefaultsTest, ChangesMadeAtTheSameTimeAllCount) {
  FileUserDefaults defaults(file_);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) ASSERT_FALSE(append(defaults, t * 100 + i));
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(identifiers(defaults).size(), 40u);
  EXPECT_EQ(identifiers(FileUserDefaults(file_)).size(), 40u);
}

TEST_F(UserDefaultsTest, AFailedWriteChangesNothing) {
  FileUserDefaults defaults(file_);
  ASSERT_FALSE(defaults.setValue("kept", json::Value(1)));
  fs::remove(file_);
  fs::create_directory(file_);  // the rename over it now fails
  auto error = defaults.setValue("kept", json::Value(2));
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("cannot replace"), std::string::npos) << *error;
  EXPECT_EQ(defaults.value("kept"), json::Value(1));
  EXPECT_TRUE(fs::is_empty(file_));
  EXPECT_EQ(leftovers().size(), 0u);  // no temporary file stays behind
}

TEST_F(UserDefaultsTest, AnUnreadableFileIsSetAsideNotOverwritten) {
  std::ofstream(file_) << "{\"purchases\": [{\"transactionIdentifier\": \"1\"";  // cut short
  FileUserDefaults defaults(file_);
  EXPECT_FALSE(defaults.value("purchases"));
  auto kept = leftovers();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_NE(kept[0].filename().string().find(".unreadable-"), std::string::npos);
  ASSERT_FALSE(defaults.setValue("fresh", json::Value(true)));
  EXPECT_EQ(leftovers().size(), 1u);
}

// A writer killed with SIGKILL at any moment leaves every change it had
// finished, whole and in order.
TEST_F(UserDefaultsTest, SurvivesAWriterKilledMidWrite) {
  for (int confirmed : {1, 2, 5, 13, 40}) {
    fs::remove(file_);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t child = fork();
    if (child == 0) {
      close(pipeFds[0]);
      FileUserDefaults defaults(file_);
      for (int i = 1; i < 100000; ++i) {
        if (append(defaults, i)) _exit(3);
        char done = 1;
        if (write(pipeFds[1], &done, 1) != 1) _exit(4);
      }
      _exit(0);
    }
    close(pipeFds[1]);
    for (int seen = 0; seen < confirmed;) {
      char done;
      ASSERT_EQ(read(pipeFds[0], &done, 1), 1) << "the writer stopped early";
      ++seen;
    }
    kill(child, SIGKILL);
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    FileUserDefaults reopened(file_);
    auto ids = identifiers(reopened);
    ASSERT_GE(ids.size(), static_cast<size_t>(confirmed)) << "a finished change was lost";
    for (size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(ids[i], std::to_string(i + 1));
    // The next write clears what the killed writer left behind.
    ASSERT_FALSE(reopened.setValue("after", json::Value(true)));
    EXPECT_TRUE(leftovers().empty()) << leftovers().front();
  }
}

}  // namespace
}  // namespace tavero::platform
