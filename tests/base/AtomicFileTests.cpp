// Replacing files when the disk does not cooperate: whichever step fails,
// the old content stays whole, the failure is reported, and no temporary
// file is left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/AtomicFile.h"
#include "support/FailingWrites.h"
#include "support/WithoutModeOverride.h"

namespace tavero::base {
namespace {

namespace fs = std::filesystem;
using testing::FailingWrites;
using testing::WithoutModeOverride;

std::string contentOf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> namesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class AtomicFile : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("tavero-atomic-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    file_ = folder_ / "state.json";
  }
  void TearDown() override {
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(folder_);
  }
  fs::path folder_, file_;
};

TEST_F(AtomicFile, AFolderThatCannotBeWrittenIsReportedAndTheOldFileStays) {
  ASSERT_FALSE(writeFileAtomically(file_, "old"));
  fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
  std::optional<std::string> error;
  {
    WithoutModeOverride asAUser;
    error = writeFileAtomically(file_, "new");
  }
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("cannot create"), std::string::npos) << *error;
  EXPECT_NE(error->find("Permission denied"), std::string::npos) << *error;
  EXPECT_EQ(contentOf(file_), "old");
  EXPECT_EQ(namesIn(folder_), std::vector<std::string>{"state.json"});
}

TEST_F(AtomicFile, AFolderThatIsAFileIsReported) {
  std::ofstream(folder_ / "plain") << "x";
  auto error = writeFileAtomically(folder_ / "plain" / "state.json", "new");
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("cannot create"), std::string::npos) << *error;
  EXPECT_EQ(contentOf(folder_ / "plain"), "x");
}

// Every step of a write fails in turn (each write, the flushes, the rename):
// a step before the rename leaves the old content and says so; the folder's
// flush after it cannot take the new content back, so that write succeeds.
TEST_F(AtomicFile, WhicheverStepFailsTheFileIsOldOrNewAndNeverHalfWritten) {
  FailingWrites disk;
  const std::string old = "{\"version\": 1}";
  int steps = 0;
  for (int n = 1; n < 50; ++n) {
    SCOPED_TRACE("failing step " + std::to_string(n));
    disk.failOperation(0);
    ASSERT_FALSE(writeFileAtomically(file_, old));
    disk.failOperation(n, n % 2 ? ENOSPC : EIO);
    const std::string next = "{\"version\": 2, \"padding\": \"" + std::string(100000, 'p') + "\"}";
    auto error = writeFileAtomically(file_, next);
    EXPECT_EQ(namesIn(folder_), std::vector<std::string>{"state.json"}) << "a temporary file was left";
    if (!disk.failed()) {
      EXPECT_FALSE(error) << *error;
      EXPECT_EQ(contentOf(file_), next);
      steps = n - 1;
      break;
    }
    if (error) {
      EXPECT_EQ(contentOf(file_), old);
      EXPECT_NE(error->find(n % 2 ? "No space left on device" : "Input/output error"), std::string::npos) << *error;
    } else {
      EXPECT_EQ(contentOf(file_), next);  // only the folder's flush failed, after the rename
    }
  }
  EXPECT_GE(steps, 4) << "write, flush, rename and the folder's flush";
}

TEST_F(AtomicFile, AShortWriteIsContinuedNotTakenForTheWhole) {
  struct ShortWrites : FailingWrites {
    ssize_t write(int fd, const void* data, size_t size) override {
      return FailingWrites::write(fd, data, std::min<size_t>(size, 7));
    }
  } disk;
  const std::string text = "a text longer than one short write takes";
  ASSERT_FALSE(writeFileAtomically(file_, text));
  EXPECT_EQ(contentOf(file_), text);
  disk.failOperation(3);  // the third piece
  EXPECT_TRUE(writeFileAtomically(file_, "another text, also longer than that"));
  EXPECT_EQ(contentOf(file_), text);
  EXPECT_EQ(namesIn(folder_), std::vector<std::string>{"state.json"});
}

}  // namespace
}  // namespace tavero::base
