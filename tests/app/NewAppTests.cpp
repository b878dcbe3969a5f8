// A new app from `tavero create` runs at once: headless with a screenshot,
// through its own smoke test, and its scripts type-check against the page
// client's types the way an editor checks them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/FileRead.h"
#include "support/ChildProcess.h"

namespace tavero::app {
namespace {

namespace fs = std::filesystem;
using tavero::testing::ChildProcess;

class NewApp : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("tavero-new-app-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    app_ = folder_ / "Field Notes";
    ChildProcess create({TAVERO_BINARY, "create", app_.string()});
    create.readToEnd();
    ASSERT_EQ(create.wait(), 0) << create.allLines();
  }
  void TearDown() override { fs::remove_all(folder_); }

  // `tsc --noEmit -p APP`: its exit status and what it printed.
  std::pair<std::optional<int>, std::string> typeCheck() {
    ChildProcess tsc({"/usr/bin/env", "tsc", "--noEmit", "-p", app_.string()}, {.keepStdout = true});
    std::string out = tsc.readStdout(std::chrono::seconds(120));
    tsc.readToEnd();
    return {tsc.wait(std::chrono::seconds(120)), out + tsc.allLines()};
  }

  fs::path folder_;
  fs::path app_;
};

TEST_F(NewApp, RunsHeadlessAtOnceAndWritesItsScreenshot) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the shell's web view does not run under ThreadSanitizer";
#endif
  fs::path png = folder_ / "shot.png";
  ChildProcess run({TAVERO_BINARY, "run", app_.string(), "--headless", "--screenshot", png.string(), "--port", "0",
                    "--home", (folder_ / "home").string()});
  EXPECT_EQ(run.wait(std::chrono::seconds(60)), 0);
  run.readToEnd();
  EXPECT_EQ(base::readFileText(png).value_or("").substr(0, 8), "\x89PNG\r\n\x1a\n") << run.allLines();
  // Its page's scripts ran without an error.
  EXPECT_FALSE(run.saidSomethingContaining("uncaught")) << run.allLines();
  EXPECT_FALSE(run.saidSomethingContaining("failed")) << run.allLines();
}

TEST_F(NewApp, ItsSmokeTestPassesAndFailsWhenTheStartPageIsGone) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the shell's web view does not run under ThreadSanitizer";
#endif
  std::vector<std::string> environment = {std::string("TAVERO=") + TAVERO_BINARY};
  ChildProcess smoke({(app_ / "tests/smoke.sh").string()}, {.environment = environment, .keepStdout = true});
  std::string out = smoke.readStdout(std::chrono::seconds(60));
  smoke.readToEnd();
  EXPECT_EQ(smoke.wait(), 0) << out << smoke.allLines();
  EXPECT_NE(out.find("smoke: passed"), std::string::npos) << out;

  fs::remove(app_ / "webapp/index.html");
  ChildProcess broken({(app_ / "tests/smoke.sh").string()}, {.environment = environment});
  broken.readToEnd(std::chrono::seconds(60));
  EXPECT_EQ(broken.wait(), 1) << broken.allLines();
}

TEST_F(NewApp, ItsScriptsTypeCheckAgainstThePageClientTypesAndMistakesAreCaught) {
  auto [status, output] = typeCheck();
  ASSERT_NE(status, 127) << "tsc is missing: scripts/install-deps installs node-typescript";
  EXPECT_EQ(status, 0) << output;

  // A mistake against the page globals' types fails the check.
  std::ofstream(app_ / "webapp/app.js", std::ios::app) << "\ndevice.platformName.toFixed(2);\n";
  std::tie(status, output) = typeCheck();
  EXPECT_NE(status, 0);
  EXPECT_NE(output.find("app.js"), std::string::npos) << output;
  EXPECT_NE(output.find("toFixed"), std::string::npos) << output;
}

}  // namespace
}  // namespace tavero::app
