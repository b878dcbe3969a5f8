#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/AtomicFile.h"
#include "base/FileRead.h"
#include "support/WithoutModeOverride.h"

namespace tavero::base {
namespace {

namespace fs = std::filesystem;

class BaseFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tavero-base-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path write(const std::string& name, const std::string& content) {
    std::ofstream(root_ / name, std::ios::binary) << content;
    return root_ / name;
  }

  fs::path root_;
};

TEST_F(BaseFiles, ReadsEveryByteOfFilesLargerThanOneChunk) {
  std::string content(200'000, 'x');
  content[0] = '\0';
  content[100'000] = '\n';
  content.back() = 'z';
  fs::path file = write("large", content);
  FileRead read = readFile(file);
  EXPECT_TRUE(read.ok());
  EXPECT_EQ(read.text, content);
  EXPECT_EQ(readWholeFile(file).text, content);
  EXPECT_EQ(readFileText(write("empty", "")), "");
}

TEST_F(BaseFiles, ALimitAllowsExactlyThatManyBytes) {
  fs::path file = write("limited", std::string(70'000, 'a'));
  EXPECT_TRUE(readFile(file, 70'000).ok());
  FileRead over = readFile(file, 69'999);
  EXPECT_EQ(over.result, FileRead::Result::tooLarge);
  EXPECT_EQ(over.text, "");
  EXPECT_EQ(readFileText(file, 10), std::nullopt);
}

TEST_F(BaseFiles, FilesWhoseSizeIsNotKnownBeforeReadingAreReadWhole) {
  auto status = readFileText("/proc/self/status", 1 << 20);
  ASSERT_TRUE(status);
  EXPECT_NE(status->find("Pid:"), std::string::npos);
}

TEST_F(BaseFiles, TellsAMissingFileFromOneThatCannotBeRead) {
  FileRead missing = readFile(root_ / "nothing");
  EXPECT_EQ(missing.result, FileRead::Result::missing);
  FileContent none = readWholeFile(root_ / "nothing");
  EXPECT_FALSE(none.text);
  EXPECT_FALSE(none.error);

  FileRead folder = readFile(root_);
  EXPECT_EQ(folder.result, FileRead::Result::cannotRead);
  FileContent folderContent = readWholeFile(root_);
  EXPECT_FALSE(folderContent.text);
  EXPECT_EQ(folderContent.error, "cannot read " + root_.string() + ": Input/output error");
}

TEST_F(BaseFiles, AFileThatMayNotBeOpenedGivesTheSystemsReason) {
  fs::path locked = write("locked", "secret");
  ::chmod(locked.c_str(), 0);
  testing::WithoutModeOverride asAUser;
  EXPECT_EQ(readFile(locked).result, FileRead::Result::cannotOpen);
  EXPECT_EQ(readWholeFile(locked).error, "cannot open " + locked.string() + ": Permission denied");
}

TEST_F(BaseFiles, AtomicWritesGiveTheAskedModeWhateverTheUmaskAndTheOldFile) {
  mode_t oldMask = ::umask(077);
  fs::path file = root_ / "folder" / "entry";
  EXPECT_FALSE(writeFileAtomically(file, "one", 0644));
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  EXPECT_FALSE(writeFileAtomically(file, "two"));
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  ::umask(oldMask);
  EXPECT_EQ(readFileText(file), "two");
}

}  // namespace
}  // namespace tavero::base
