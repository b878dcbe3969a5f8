// `tavero device page ...` and `tavero device screenshot` against a real
// shell on a private display: the page's own values come back as JSON, a
// wait sees a value a timer sets, a rejected promise is a failure, scripts
// never run in a document that is not the app's, and the window's picture
// shows the alert over it.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/DeviceCommand.h"
#include "base/FileRead.h"
#include "support/ChildProcess.h"

namespace tavero::app {
namespace {

namespace fs = std::filesystem;
using tavero::testing::ChildProcess;

// The width and height a PNG's header gives.
std::pair<int, int> pngSize(const std::string& png) {
  if (png.size() < 24 || png.compare(1, 3, "PNG") != 0) return {0, 0};
  auto number = [&](size_t at) {
    return (static_cast<unsigned char>(png[at]) << 24) | (static_cast<unsigned char>(png[at + 1]) << 16) |
           (static_cast<unsigned char>(png[at + 2]) << 8) | static_cast<unsigned char>(png[at + 3]);
  };
  return {number(16), number(20)};
}

class DevicePage : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the shell's web view does not run under ThreadSanitizer";
#endif
    folder_ = fs::temp_directory_path() / ("tavero-page-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    shell_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{TAVERO_BINARY, "run", TAVERO_APP_TESTS_DIR "/page-app", "--headless", "--home",
                                 (folder_ / "home").string(), "--port", "0"},
        ChildProcess::Options{.ownProcessGroup = true});
    ASSERT_TRUE(shell_->waitForLineContaining("page ready")) << shell_->allLines();
  }
  void TearDown() override {
    if (shell_) {
      shell_->signal(SIGTERM);
      EXPECT_EQ(shell_->wait(), 0);
    }
    fs::remove_all(folder_);
  }

  // Runs `tavero device --home HOME words...`; its exit status, with what
  // it printed in out_ and err_.
  int device(std::vector<std::string> words) {
    words.insert(words.begin(), {"--home", (folder_ / "home").string()});
    out_.str("");
    err_.str("");
    return runDevice(words, folder_ / "running", out_, err_);
  }

  fs::path folder_;
  std::unique_ptr<ChildProcess> shell_;
  std::ostringstream out_, err_;
};

TEST_F(DevicePage, EvalAndWaitReadThePageAndItsFailuresExitOne) {
  ASSERT_EQ(device({"page", "eval", "document.querySelector('#greeting').textContent"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "\"Hello from the page\"\n");
  ASSERT_EQ(device({"page", "eval", "const n = [1, 2, 3]; return {sum: n.reduce((a, b) => a + b), title: "
                                    "document.title};"}),
            0)
      << err_.str();
  EXPECT_EQ(out_.str(), "{\"sum\":6,\"title\":\"Pages\"}\n");

  ASSERT_EQ(device({"page", "wait", "--timeout", "10", "window.later"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "\"set by a timer\"\n");

  EXPECT_EQ(device({"page", "eval", "new Promise((resolve, reject) => setTimeout(() => reject(new "
                                    "Error('no network')), 50))"}),
            1);
  EXPECT_NE(err_.str().find("no network"), std::string::npos) << err_.str();
  EXPECT_EQ(device({"page", "eval", "throw new TypeError('bad')"}), 1);
  EXPECT_NE(err_.str().find("TypeError: bad"), std::string::npos) << err_.str();
  EXPECT_EQ(device({"page", "wait", "--timeout", "0.3", "window.never"}), 1);
  EXPECT_NE(err_.str().find("not true within 0.300 s"), std::string::npos) << err_.str();
  EXPECT_EQ(device({"page", "eval", "'x'.repeat(2 << 20)"}), 1);
  EXPECT_NE(err_.str().find("at most"), std::string::npos) << err_.str();

  // A page that never answers gets an error in time, and the app answers
  // other commands meanwhile.
  ASSERT_EQ(device({"page", "eval", "setTimeout(() => { for (;;) {} }, 100); 'spinning soon'"}), 0) << err_.str();
  std::ostringstream slowOut, slowErr;
  auto started = std::chrono::steady_clock::now();
  std::thread stuck([&] {
    runDevice({"--home", (folder_ / "home").string(), "page", "wait", "--timeout", "2", "false"},
              folder_ / "running", slowOut, slowErr);
  });
  EXPECT_EQ(device({"events", "badge"}), 0) << err_.str();
  stuck.join();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_NE(slowErr.str().find("not true within 2 s"), std::string::npos) << slowErr.str();
}

TEST_F(DevicePage, ScriptsNeverRunInADocumentThatIsNotTheApps) {
  ASSERT_EQ(device({"page", "eval", "location.href = 'about:blank'; 'leaving'"}), 0) << err_.str();
  bool refused = false;
  for (int attempt = 0; attempt < 50 && !refused; ++attempt) {
    refused = device({"page", "eval", "document.title"}) == 1 &&
              err_.str().find("not the app's") != std::string::npos;
    if (!refused) ::usleep(100'000);
  }
  EXPECT_TRUE(refused) << out_.str() << err_.str();
}

TEST_F(DevicePage, TheWindowsPictureShowsTheAlertOverItAndHasTheWindowsSize) {
  fs::path before = folder_ / "before.png", withAlert = folder_ / "alert.png", after = folder_ / "after.png";
  // The picture of the window as the page has drawn it: the same twice in a row.
  ASSERT_EQ(device({"page", "eval", "new Promise(drawn => requestAnimationFrame(() => requestAnimationFrame(drawn)))"}),
            0)
      << err_.str();
  std::string previous;
  for (int attempt = 0; attempt < 30; ++attempt) {
    ASSERT_EQ(device({"screenshot", before.string()}), 0) << err_.str();
    std::string picture = base::readFileText(before).value_or("");
    if (picture == previous) break;
    previous = std::move(picture);
    ::usleep(100'000);
  }
  ASSERT_EQ(device({"page", "eval", "Kio.notification.alert('Delete the note?', 'This cannot be undone.', "
                                    "['Delete', 'Cancel']); 'shown'"}),
            0)
      << err_.str();
  bool open = false;
  for (int attempt = 0; attempt < 50 && !open; ++attempt) {
    open = device({"alert", "list"}) == 0 && out_.str().find("Delete the note?") != std::string::npos;
    if (!open) ::usleep(100'000);
  }
  ASSERT_TRUE(open) << out_.str() << err_.str();
  ASSERT_EQ(device({"screenshot", "--window", withAlert.string()}), 0) << err_.str();
  ASSERT_EQ(device({"alert", "press", "1"}), 0) << err_.str();
  ASSERT_EQ(device({"page", "eval", "[window.innerWidth, window.innerHeight]"}), 0) << err_.str();
  std::string windowSize = out_.str();

  std::string plain = base::readFileText(before).value_or(""), alert = base::readFileText(withAlert).value_or("");
  auto [width, height] = pngSize(plain);
  EXPECT_EQ(windowSize, "[" + std::to_string(width) + "," + std::to_string(height) + "]\n");
  EXPECT_EQ(pngSize(alert), pngSize(plain));
  EXPECT_TRUE(alert != plain);  // the dialog is in the picture...
  // ...and only the dialog: once the window under it is drawn again, the
  // picture is as before.
  bool asBefore = false;
  for (int attempt = 0; attempt < 30 && !asBefore; ++attempt) {
    if (attempt) ::usleep(100'000);
    ASSERT_EQ(device({"screenshot", after.string()}), 0) << err_.str();
    asBefore = base::readFileText(after) == plain;
  }
  EXPECT_TRUE(asBefore);

  ASSERT_EQ(device({"screenshot", "--page", "index.html", (folder_ / "page.png").string()}), 0) << err_.str();
  EXPECT_EQ(pngSize(base::readFileText(folder_ / "page.png").value_or("")), pngSize(plain));
}

// The test `tavero create` puts in a new app plays the device and reads the
// page through these commands.
TEST(NewAppDeviceTest, PassesOnTheNewAppAndFailsWhenThePageShowsNoPosition) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the shell's web view does not run under ThreadSanitizer";
#endif
  fs::path folder = fs::temp_directory_path() / ("tavero-newapp-device-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  ChildProcess create({TAVERO_BINARY, "create", (folder / "app").string(), "--id", "org.example.devicetest"});
  ASSERT_EQ(create.wait(), 0) << create.allLines();
  std::vector<std::string> environment = {"TAVERO=" TAVERO_BINARY};
  {
    ChildProcess test({(folder / "app/tests/device.sh").string(), (folder / "shot.png").string()},
                      {.environment = environment, .keepStdout = true});
    std::string out = test.readStdout(std::chrono::seconds(90));
    EXPECT_EQ(test.wait(std::chrono::seconds(90)), 0) << out << test.allLines();
    EXPECT_NE(out.find("device: passed; the page shows the position the device sent (\"48.8584, 2.2945"),
              std::string::npos)
        << out;
    EXPECT_TRUE(fs::file_size(folder / "shot.png") > 0);
  }
  // A page that does not show positions fails the test, with what it shows.
  std::string script = base::readFileText(folder / "app/webapp/app.js").value_or("");
  size_t watch = script.find("Kio.geolocation.watchPosition(");
  ASSERT_NE(watch, std::string::npos);
  script.insert(watch, "if (false) ");
  {
    std::ofstream(folder / "app/webapp/app.js") << script;
  }
  ChildProcess failing({(folder / "app/tests/device.sh").string()}, {.environment = environment});
  failing.readToEnd(std::chrono::seconds(90));
  EXPECT_EQ(failing.wait(std::chrono::seconds(90)), 1) << failing.allLines();
  EXPECT_TRUE(failing.saidSomethingContaining("did not show the position")) << failing.allLines();
  fs::remove_all(folder);
}

}  // namespace
}  // namespace tavero::app
