#include <gtest/gtest.h>

#include "host/LiveReload.h"
#include "support/CapturedLog.h"
#include "support/FakeFileWatcher.h"
#include "support/ManualTimers.h"

namespace tavero::host {
namespace {

using platform::FileChangeKind;
using namespace std::chrono_literals;

class LiveReloading : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(reload_.start("/apps/Notes", webapp_, bundle_), std::nullopt); }

  // The settle timer's time comes: the one active timer fires.
  void settle() {
    auto active = timers_.active();
    ASSERT_EQ(active.size(), 1u);
    timers_.fire(active.front().id);
  }

  testing::CapturedLog log_;
  testing::ManualTimers timers_;
  testing::FakeFileWatcher webapp_;
  testing::FakeFileWatcher bundle_;
  std::chrono::steady_clock::time_point now_;
  int reloads_ = 0;
  LiveReload reload_{timers_, [this] { ++reloads_; }, [this] { return now_; }};
};

TEST_F(LiveReloading, WatchesTheWebappTreeAndTheBundleFolderItself) {
  EXPECT_EQ(webapp_.watchedFolder, "/apps/Notes/webapp");
  EXPECT_EQ(webapp_.watchedDepth, platform::FileWatcher::Depth::tree);
  EXPECT_EQ(bundle_.watchedFolder, "/apps/Notes");
  EXPECT_EQ(bundle_.watchedDepth, platform::FileWatcher::Depth::folderOnly);
}

TEST_F(LiveReloading, ABurstOfChangesIsOneReloadNamingTheFiles) {
  webapp_.change("index.html");
  webapp_.change("js/app.js", FileChangeKind::created);
  webapp_.change("js/app.js");
  webapp_.change("old.css", FileChangeKind::removed);
  EXPECT_EQ(reloads_, 0);  // not before the changes have settled
  settle();
  EXPECT_EQ(reloads_, 1);
  EXPECT_TRUE(log_.has("watch: webapp/index.html, webapp/js/app.js, webapp/old.css changed; reloading the pages"))
      << log_.all();
  EXPECT_TRUE(timers_.active().empty());

  webapp_.change("index.html", FileChangeKind::renamed);  // an editor's save by rename
  settle();
  EXPECT_EQ(reloads_, 2);
}

TEST_F(LiveReloading, EditorScratchFilesReloadNothing) {
  for (const char* name : {".index.html.swp", "index.html~", "js/.app.js.swx", ".git/index", "4913", "a.swp"})
    webapp_.change(name);
  EXPECT_TRUE(timers_.active().empty());
  EXPECT_EQ(reloads_, 0);
}

TEST_F(LiveReloading, InfoPlistChangesAskForARestartAndOtherBundleFilesAreIgnored) {
  bundle_.change("README.md");
  EXPECT_TRUE(timers_.active().empty());
  bundle_.change("Info.plist", FileChangeKind::renamed);
  settle();
  EXPECT_EQ(reloads_, 0);
  EXPECT_TRUE(log_.has("Info.plist changed; the shell reads it at launch only: restart the app")) << log_.all();
}

TEST_F(LiveReloading, ARemovedWebappWaitsAndItsReturnReloads) {
  webapp_.change("", FileChangeKind::removed);
  EXPECT_TRUE(timers_.active().empty());
  EXPECT_TRUE(log_.has("webapp/ was removed; the pages reload when it is back"));
  webapp_.change("", FileChangeKind::created);
  settle();
  EXPECT_EQ(reloads_, 1);
  EXPECT_TRUE(log_.has("watch: webapp/ changed"));
}

TEST_F(LiveReloading, AFloodKeepsBoundedNamesAndEndsWithinTheLongestWait) {
  webapp_.change("first.js");
  const int firstTimer = timers_.active().front().id;
  for (int i = 0; i < 20000; ++i) {
    now_ += 1ms;  // changes keep coming, each sooner than the settle time
    webapp_.change("gen/file" + std::to_string(i) + ".js");
  }
  // Past the longest wait the timer is no longer pushed back.
  auto active = timers_.active();
  ASSERT_EQ(active.size(), 1u);
  EXPECT_NE(active.front().id, firstTimer);
  EXPECT_LE(active.front().interval, LiveReload::kSettleTime);
  settle();
  EXPECT_EQ(reloads_, 1);
  EXPECT_TRUE(log_.has("watch: webapp/first.js, webapp/gen/file0.js, webapp/gen/file1.js, webapp/gen/file10.js, "
                       "webapp/gen/file11.js and others changed (20001 changes); reloading the pages"))
      << log_.all();

  // The next change starts a new wait with a clear list.
  webapp_.change("next.js");
  settle();
  EXPECT_TRUE(log_.has("watch: webapp/next.js changed;"));
}

TEST(LiveReloadStart, AWebappThatCannotBeWatchedIsAnErrorAndABundleFolderOnlyAWarning) {
  testing::CapturedLog log;
  testing::ManualTimers timers;
  testing::FakeFileWatcher webapp, bundle;
  LiveReload reload(timers, [] {});
  bundle.startError = "no inotify watches left";
  EXPECT_EQ(reload.start("/a", webapp, bundle), std::nullopt);
  EXPECT_TRUE(log.has("no inotify watches left; a change to Info.plist goes unnoticed"));
  webapp.startError = "permission denied";
  EXPECT_EQ(LiveReload(timers, [] {}).start("/a", webapp, bundle), "permission denied");
}

}  // namespace
}  // namespace tavero::host
