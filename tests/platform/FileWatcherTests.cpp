// The GIO file watcher on real folders: the main context is iterated until
// the changes a test makes have been reported (bounded).
#include <gtest/gtest.h>
#include <glib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "platform/linux/GioFileWatcher.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;
using Kind = FileChangeKind;

class GioWatching : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("tavero watch " + std::to_string(::getpid()) + " " +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(base_);
    root_ = base_ / "webapp";
    fs::create_directories(root_ / "js");
  }
  void TearDown() override {
    watcher_.reset();
    fs::remove_all(base_);
  }

  void start(FileWatcher::Depth depth) {
    watcher_ = std::make_unique<GioFileWatcher>();
    ASSERT_EQ(watcher_->start(root_, depth, [this](const FileChange& change) { changes_.push_back(change); }),
              std::nullopt);
  }
  static void write(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }

  // Serves the main context until a change of `path` and `kind` came, for
  // at most five seconds.
  bool waitFor(const std::string& path, Kind kind) {
    auto seen = [&] {
      for (const auto& change : changes_)
        if (change.path == path && change.kind == kind) return true;
      return false;
    };
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!seen() && std::chrono::steady_clock::now() < end) g_main_context_iteration(nullptr, FALSE), g_usleep(2000);
    return seen();
  }
  // Serves the main context for a while, for changes that must not come.
  void settle() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < end) g_main_context_iteration(nullptr, FALSE), g_usleep(2000);
  }
  bool anyChangeOf(const std::string& path) const {
    for (const auto& change : changes_)
      if (change.path == path) return true;
    return false;
  }

  fs::path base_;
  fs::path root_;
  std::unique_ptr<GioFileWatcher> watcher_;
  std::vector<FileChange> changes_;
};

TEST_F(GioWatching, SeesWritesInSubfoldersAndFollowsFoldersMadeLater) {
  start(FileWatcher::Depth::tree);
  write(root_ / "js" / "app.js", "1");
  EXPECT_TRUE(waitFor("js/app.js", Kind::created));
  fs::create_directories(root_ / "css" / "themes");
  EXPECT_TRUE(waitFor("css", Kind::created));  // css/ and the themes/ in it are watched from here on
  write(root_ / "css" / "themes" / "dark.css", "body{}");
  EXPECT_TRUE(waitFor("css/themes/dark.css", Kind::created));
  fs::remove(root_ / "js" / "app.js");
  EXPECT_TRUE(waitFor("js/app.js", Kind::removed));
}

TEST_F(GioWatching, AnEditorsSaveByRenameIsReportedUnderTheFilesName) {
  write(root_ / "index.html", "old");
  start(FileWatcher::Depth::tree);
  write(root_ / ".index.html.tmp", "new");
  fs::rename(root_ / ".index.html.tmp", root_ / "index.html");
  EXPECT_TRUE(waitFor("index.html", Kind::renamed));
  // A folder renamed is watched under its new name.
  fs::rename(root_ / "js", root_ / "scripts");
  EXPECT_TRUE(waitFor("scripts", Kind::renamed));
  write(root_ / "scripts" / "a.js", "1");
  EXPECT_TRUE(waitFor("scripts/a.js", Kind::created));
}

TEST_F(GioWatching, TheFolderRemovedAndMadeAgainIsWatchedAgain) {
  start(FileWatcher::Depth::tree);
  fs::remove_all(root_);
  EXPECT_TRUE(waitFor("", Kind::removed));
  EXPECT_EQ(watcher_->watchedFolderCount(), 0u);
  fs::create_directories(root_ / "js");
  EXPECT_TRUE(waitFor("", Kind::created));
  write(root_ / "js" / "app.js", "2");
  EXPECT_TRUE(waitFor("js/app.js", Kind::created));
  EXPECT_EQ(watcher_->watchedFolderCount(), 2u);
}

TEST_F(GioWatching, ARemovedFolderTakesItsOwnMonitorsAndNotThoseOfNamesStartingLikeIt) {
  fs::create_directories(root_ / "js" / "lib");
  fs::create_directories(root_ / "js-old");
  fs::create_directories(root_ / "jsx");
  start(FileWatcher::Depth::tree);
  EXPECT_EQ(watcher_->watchedFolderCount(), 5u);
  fs::remove_all(root_ / "js");
  EXPECT_TRUE(waitFor("js", Kind::removed));
  EXPECT_EQ(watcher_->watchedFolderCount(), 3u);
  write(root_ / "js-old" / "a.js", "1");
  write(root_ / "jsx" / "b.js", "1");
  EXPECT_TRUE(waitFor("js-old/a.js", Kind::created));
  EXPECT_TRUE(waitFor("jsx/b.js", Kind::created));
}

TEST_F(GioWatching, FolderOnlySeesNothingBelowAndNothingBesideTheFolder) {
  start(FileWatcher::Depth::folderOnly);
  write(root_ / "js" / "app.js", "1");
  write(base_ / "Info.plist", "<plist/>");  // beside the watched folder
  write(root_ / "Info.plist", "<plist/>");
  EXPECT_TRUE(waitFor("Info.plist", Kind::created));
  settle();
  EXPECT_FALSE(anyChangeOf("js/app.js"));
  EXPECT_FALSE(anyChangeOf("../Info.plist"));
  EXPECT_EQ(watcher_->watchedFolderCount(), 1u);
}

TEST_F(GioWatching, NoReportAfterTheWatcherIsGone) {
  start(FileWatcher::Depth::tree);
  watcher_.reset();
  write(root_ / "late.js", "1");
  settle();
  EXPECT_TRUE(changes_.empty());
}

}  // namespace
}  // namespace tavero::platform
