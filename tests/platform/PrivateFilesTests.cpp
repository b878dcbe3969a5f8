#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/AtomicFile.h"
#include "base/PrivateFiles.h"
#include "log/Log.h"
#include "platform/HomeFolders.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void writeWithMode(const fs::path& file, mode_t mode) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "secret";
  ::chmod(file.c_str(), mode);
}

// Every test runs with a umask that would leave files open to everyone,
// as a user's shell may have it; the mask and the log are restored after.
class PrivateFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tavero-private-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    oldMask_ = ::umask(0);
    log::setSink([this](log::Level level, std::string_view line) {
      if (level >= log::Level::Warning) logged_.emplace_back(line);
    });
  }
  void TearDown() override {
    log::setSink({});
    ::umask(oldMask_);
    fs::remove_all(root_);
  }

  fs::path root_;
  mode_t oldMask_ = 022;
  std::vector<std::string> logged_;
};

TEST_F(PrivateFiles, ANewHomeAndWhatIsWrittenInItArePrivateWhateverTheUmask) {
  HomeFolders home{root_ / "data" / "tavero" / "org.example.notes"};
  ASSERT_FALSE(createHomeFolders(home));
  for (const fs::path& folder : {root_ / "data", home.home, home.documents(), home.library(), home.applicationSupport(),
                                 home.caches(), home.preferences(), home.webData(), home.localStorageFolder()})
    EXPECT_EQ(modeOf(folder), 0700u) << folder;

  fs::path preferences = home.preferences() / "org.example.notes.json";
  ASSERT_FALSE(base::writeFileAtomically(preferences, "{}"));
  EXPECT_EQ(modeOf(preferences), 0600u);
  // A folder the writer makes on its way (the store's queue).
  fs::path queue = home.library() / "Store" / "PaymentQueue.json";
  ASSERT_FALSE(base::writeFileAtomically(queue, "[]"));
  EXPECT_EQ(modeOf(queue.parent_path()), 0700u);
  EXPECT_EQ(modeOf(queue), 0600u);
  EXPECT_TRUE(logged_.empty()) << logged_.front();  // nothing needed tightening
}

TEST_F(PrivateFiles, AnAtomicWriteDoesNotKeepTheModeOfACrashedWritersLeftover) {
  fs::path file = root_ / "prefs.json";
  writeWithMode(fs::path(file) += ".tmp-" + std::to_string(::getpid()), 0666);
  ASSERT_FALSE(base::writeFileAtomically(file, "{}"));
  EXPECT_EQ(modeOf(file), 0600u);
}

TEST_F(PrivateFiles, InterruptedWritesOfDeadProcessesAreRemovedAndNothingElse) {
  // A pid no process has: above the kernel's limit.
  const std::string dead = "4194305";
  const std::string live = std::to_string(::getppid());
  for (const char* name : {"PaymentQueue.json.tmp-", "image-3.jpg.tmp-"}) std::ofstream(root_ / (name + dead)) << "x";
  const std::vector<std::string> kept = {"PaymentQueue.json.tmp-" + live,  // a writer still running
                                         "notes.tmp-" + dead + "x", "notes.tmp-", ".tmp-" + dead, "PaymentQueue.json"};
  for (const auto& name : kept) std::ofstream(root_ / name) << "x";
  fs::create_directories(root_ / ("folder.tmp-" + dead));
  std::ofstream(root_ / ("other.txt.tmp-" + dead)) << "x";

  EXPECT_EQ(base::removeInterruptedWrites(root_, "image-"), 1);
  EXPECT_FALSE(fs::exists(root_ / ("image-3.jpg.tmp-" + dead)));
  EXPECT_TRUE(fs::exists(root_ / ("PaymentQueue.json.tmp-" + dead)));  // not the prefix asked for
  EXPECT_EQ(base::removeInterruptedWrites(root_), 2);
  EXPECT_FALSE(fs::exists(root_ / ("PaymentQueue.json.tmp-" + dead)));
  for (const auto& name : kept) EXPECT_TRUE(fs::exists(root_ / name)) << name;
  EXPECT_TRUE(fs::exists(root_ / ("folder.tmp-" + dead)));
  EXPECT_EQ(base::removeInterruptedWrites(root_ / "missing"), 0);
}

TEST_F(PrivateFiles, AnOpenHomeIsTightenedAtLaunchWithALogLine) {
  HomeFolders home{root_ / "home"};
  const fs::path database = home.applicationSupport() / "sqlite_databases" / "1.db";
  const fs::path document = home.documents() / "notes.txt";
  const fs::path tool = home.documents() / "bin" / "tool";
  const fs::path card = home.contacts() / "kim.vcf";
  writeWithMode(database, 0644);
  writeWithMode(document, 0666);
  writeWithMode(tool, 0755);
  writeWithMode(card, 0644);
  for (const fs::path& folder : {home.home, home.documents(), home.documents() / "bin", home.library(),
                                 home.applicationSupport(), home.contacts()})
    ::chmod(folder.c_str(), 0755);

  ASSERT_FALSE(createHomeFolders(home));
  for (const fs::path& folder : {home.home, home.documents(), home.documents() / "bin", home.library(),
                                 home.applicationSupport(), database.parent_path(), home.contacts()})
    EXPECT_EQ(modeOf(folder), 0700u) << folder;
  EXPECT_EQ(modeOf(database), 0600u);
  EXPECT_EQ(modeOf(document), 0600u);
  EXPECT_EQ(modeOf(tool), 0700u);  // the owner keeps what it had
  EXPECT_EQ(modeOf(card), 0600u);
  ASSERT_EQ(logged_.size(), 1u);
  EXPECT_NE(logged_[0].find(home.home.string()), std::string::npos) << logged_[0];
  EXPECT_NE(logged_[0].find("7 folders and 4 files"), std::string::npos) << logged_[0];

  logged_.clear();
  ASSERT_FALSE(createHomeFolders(home));
  EXPECT_TRUE(logged_.empty()) << logged_.front();  // the second launch finds nothing to do
}

// A --home folder may hold the user's own things, and links in the home
// may point anywhere: the shell changes only what it keeps, never through
// a link.
TEST_F(PrivateFiles, TighteningLeavesOtherFilesAndLinkTargetsAlone) {
  HomeFolders home{root_ / "home"};
  const fs::path usersOwn = home.home / "todo.txt";
  const fs::path outside = root_ / "outside" / "shared.txt";
  const fs::path outsideFolder = root_ / "shared-folder";
  writeWithMode(usersOwn, 0644);
  writeWithMode(outside, 0644);
  fs::create_directories(outsideFolder);
  ::chmod(outsideFolder.c_str(), 0755);
  fs::create_directories(home.documents());
  fs::create_symlink(outside, home.documents() / "link-to-file");
  fs::create_symlink(outsideFolder, home.documents() / "link-to-folder");
  fs::create_symlink(outsideFolder, home.contacts());  // the kept folder itself a link

  ASSERT_FALSE(createHomeFolders(home));
  EXPECT_EQ(modeOf(usersOwn), 0644u);
  EXPECT_EQ(modeOf(outside), 0644u);
  EXPECT_EQ(modeOf(outsideFolder), 0755u);
  EXPECT_TRUE(fs::is_symlink(home.documents() / "link-to-file"));
}

TEST_F(PrivateFiles, APrivateFileIsMadeOnceAndNeverThroughALink) {
  const fs::path file = root_ / "db.sqlite";
  ASSERT_FALSE(base::createPrivateFile(file));
  EXPECT_EQ(modeOf(file), 0600u);
  std::ofstream(file) << "content";
  ASSERT_FALSE(base::createPrivateFile(file));  // an existing file is kept as it is
  EXPECT_EQ(fs::file_size(file), 7u);

  const fs::path target = root_ / "elsewhere";
  fs::create_symlink(target, root_ / "link.sqlite");
  EXPECT_FALSE(base::createPrivateFile(root_ / "link.sqlite"));  // left as it is
  EXPECT_FALSE(fs::exists(target));
  EXPECT_TRUE(base::createPrivateFolders(file / "below"));  // a file on the way
}

}  // namespace
}  // namespace tavero::platform
