// `tavero run --watch` as a developer runs it: a page of a running app is
// edited on disk and the shell reloads it; what the old page had set up
// (its motion watch) does not reach the new one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "support/ChildProcess.h"

namespace tavero::app {
namespace {

namespace fs = std::filesystem;
using tavero::testing::ChildProcess;

// The first page watches motion (readings come every 20 ms); the second
// registers a callback under the id the first page's watch had, and logs
// anything it receives: a reading meant for the old page.
constexpr const char* kFirstPage = R"(<!DOCTYPE html><html><head><meta charset="UTF-8"></head><body><script>
  let said = false;
  const id = Kio.device.Communicator.callback(function () {
    if (!said) { said = true; console.log('motion readings arrive'); }
  }, true);
  Kio.device.Communicator.send('Motion#watch', {callback: id});
  console.log('generation 1 with callback <' + id + '>');
</script></body></html>)";

std::string secondPage(const std::string& oldCallbackId) {
  return R"(<!DOCTYPE html><html><head><meta charset="UTF-8"></head><body><script>
  Kio.device.Communicator.callback(function (value) {
    console.log('stale delivery ' + JSON.stringify(value));
  }, true, ')" + oldCallbackId + R"(');
  console.log('generation 2');
</script></body></html>)";
}

class WatchRun : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the shell's web view does not run under ThreadSanitizer";
#endif
    folder_ = fs::temp_directory_path() / ("tavero-watch-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(bundle() / "webapp" / "js");
    fs::copy_file(TAVERO_APP_TESTS_DIR "/counter-app/Info.plist", bundle() / "Info.plist");
    std::ofstream(bundle() / "webapp" / "app.json") << "{}";
  }
  void TearDown() override { fs::remove_all(folder_); }

  fs::path bundle() const { return folder_ / "app"; }

  std::unique_ptr<ChildProcess> startShell() {
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{TAVERO_BINARY, "run", bundle().string(), "--headless", "--watch", "--home",
                                 (folder_ / "home").string(), "--port", "0"},
        ChildProcess::Options{.environment = {"TAVERO_LOG=debug"}});
  }

  // Writes `text` to `name` in webapp/ as editors that save by renaming do.
  void saveByRename(const std::string& name, const std::string& text) {
    const fs::path file = bundle() / "webapp" / name;
    const fs::path scratch = file.parent_path() / ("." + file.filename().string() + ".new");
    std::ofstream(scratch) << text;
    fs::rename(scratch, file);
  }

  fs::path folder_;
};

TEST_F(WatchRun, AnEditedPageReloadsAndTheOldPagesWatchEndsWithIt) {
  std::ofstream(bundle() / "webapp" / "index.html") << kFirstPage;
  auto shell = startShell();
  ASSERT_TRUE(shell->waitForLineContaining("motion readings arrive")) << shell->allLines();
  std::smatch match;
  const std::string all = shell->allLines();
  ASSERT_TRUE(std::regex_search(all, match, std::regex("generation 1 with callback <([0-9]+)>"))) << all;

  saveByRename("index.html", secondPage(match[1]));
  auto reloaded = shell->waitForLineContaining("generation 2", std::chrono::seconds(10));
  ASSERT_TRUE(reloaded) << shell->allLines();
  EXPECT_TRUE(shell->saidSomethingContaining("watch: webapp/index.html changed; reloading the pages"))
      << shell->allLines();
  EXPECT_TRUE(shell->saidSomethingContaining("TQMotion: the watch of page \"index.html\" ended with its document"))
      << shell->allLines();
  // Readings come every 20 ms: a quarter second would bring a dozen to the new page.
  EXPECT_FALSE(shell->waitForLineContaining("stale delivery", std::chrono::milliseconds(250))) << shell->allLines();

  // A script in a folder made after the launch reloads the pages too.
  fs::create_directories(bundle() / "webapp" / "js" / "lib");
  std::ofstream(bundle() / "webapp" / "js" / "lib" / "util.js") << "// new";
  EXPECT_TRUE(shell->waitForLineContaining("webapp/js/lib", std::chrono::seconds(10))) << shell->allLines();

  std::ofstream(bundle() / "Info.plist", std::ios::app) << "\n";
  EXPECT_TRUE(shell->waitForLineContaining("Info.plist changed; the shell reads it at launch only",
                                           std::chrono::seconds(10)))
      << shell->allLines();
}

TEST_F(WatchRun, TheHelpNamesTheOptions) {
  ChildProcess help({TAVERO_BINARY, "run", "--help"}, ChildProcess::Options{.keepStdout = true});
  const std::string text = help.readStdout();
  EXPECT_NE(text.find("--watch"), std::string::npos) << text;
  EXPECT_NE(text.find("--dev-server URL"), std::string::npos) << text;
}

}  // namespace
}  // namespace tavero::app
