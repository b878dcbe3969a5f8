#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/AtomicFile.h"

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
  
}

}  // namespace
}  // namespace tavero::base
