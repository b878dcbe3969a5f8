// `tavero run` as a user runs it, on a private display: however the shell
// ends (Ctrl-C in its terminal, SIGTERM, kill -9), its display ends too and
// the page's local storage is not rolled back; a start page that cannot be
// loaded is a failure that names the file.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "base/FileRead.h"
#include "support/ChildProcess.h"
#include "support/LoopbackClient.h"

namespace tavero::app {
namespace {

namespace fs = std::filesystem;
using tavero::testing::ChildProcess;
using tavero::testing::waitForProcessToEnd;

constexpr int kKilled = 128 + SIGKILL;

// The processes whose parent is `parent` and whose name starts with `name`.
std::vector<pid_t> childrenNamed(pid_t parent, const std::string& name) {
  std::vector<pid_t> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    std::string pid = entry.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string text = base::readFileText(entry.path() / "stat").value_or("");
    size_t open = text.find('('), close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::string command = text.substr(open + 1, close - open - 1);
    int ppid = 0;
    char state = 0;
    if (std::sscanf(text.c_str() + close + 1, " %c %d", &state, &ppid) != 2) continue;
    if (ppid == parent && command.starts_with(name)) found.push_back(std::stoi(pid));
  }
  return found;
}

// The launches count the counter page keeps in local storage, as stored on
// disk (the web view stores values as UTF-16), or -1.
int storedLaunches(const fs::path& home) {
  fs::path live = home / "Library/WebKit/localstorage/file__0.localstorage";
  if (!fs::exists(live)) return -1;
  sqlite3* db = nullptr;
  int launches = -1;
  if (sqlite3_open_v2(live.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 1000);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT value FROM ItemTable WHERE key = 'launches'", -1, &statement, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, 0));
      std::string digits;
      for (int i = 0; i + 1 < sqlite3_column_bytes(statement, 0); i += 2) digits += bytes[i];
      launches = std::atoi(digits.c_str());
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return launches;
}

// Waits, watching the folder for changes, until the stored count is `launches`.
bool waitForStoredLaunches(const fs::path& home, int launches) {
  fs::path folder = home / "Library/WebKit/localstorage";
  int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  inotify_add_watch(watch, folder.c_str(), IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool reached = false;
  while (!(reached = storedLaunches(home) == launches) && std::chrono::steady_clock::now() < deadline) {
    pollfd waiting{watch, POLLIN, 0};
    ::poll(&waiting, 1, 1000);
    char events[4096];
    while (::read(watch, events, sizeof events) > 0) {
    }
  }
  ::close(watch);
  return reached;
}

class RunCommand : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_THREAD__)
    // Every test here runs the shell's web view, which ThreadSanitizer
    // cannot follow (WebKit is not instrumented), like the web view tests.
    GTEST_SKIP() << "the shell's web view does not run under ThreadSanitizer";
#endif
    folder_ = fs::temp_directory_path() / ("tavero-run-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    home_ = folder_ / "home";
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::unique_ptr<ChildProcess> startShell(const fs::path& bundle = TAVERO_APP_TESTS_DIR "/counter-app",
                                           std::vector<std::string> extra = {}) {
    // Any free port: the tests run side by side, each shell on its own home and display.
    std::vector<std::string> args = {TAVERO_BINARY, "run",  bundle.string(), "--headless",
                                     "--home",      home_.string(), "--port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<ChildProcess>(args, ChildProcess::Options{.ownProcessGroup = true});
  }

  // The private display's process, from the shell's log.
  static pid_t displayOf(ChildProcess& shell) {
    auto line = shell.waitForLineContaining("(Xvfb process ");
    if (!line) return -1;
    std::smatch match;
    std::regex_search(*line, match, std::regex("Xvfb process ([0-9]+)"));
    return static_cast<pid_t>(std::stoi(match[1]));
  }

  fs::path folder_;
  fs::path home_;
};

TEST_F(RunCommand, AKilledShellTakesItsDisplayAlongAndItsNextLaunchKeepsTheStorage) {
  {
    auto shell = startShell();
    ASSERT_TRUE(shell->waitForLineContaining("launches=1")) << shell->allLines();
    // The page may log before or after the shell says it has loaded.
    ASSERT_TRUE(shell->saidSomethingContaining("the start page loaded") ||
                shell->waitForLineContaining("the start page loaded"));
    shell->signal(SIGTERM);
    EXPECT_EQ(shell->wait(), 0) << shell->allLines();  // the backup now holds 1
  }
  {
    auto shell = startShell();
    pid_t display = displayOf(*shell);
    ASSERT_GT(display, 0) << shell->allLines();
    ASSERT_TRUE(shell->waitForLineContaining("launches=2")) << shell->allLines();
    ASSERT_TRUE(waitForStoredLaunches(home_, 2));
    shell->signal(SIGKILL);
    EXPECT_EQ(shell->wait(), kKilled);
    EXPECT_TRUE(waitForProcessToEnd(display)) << "Xvfb outlived the shell";
  }
  auto shell = startShell();
  // Not 2: the older backup must not replace what the killed run wrote.
  EXPECT_TRUE(shell->waitForLine([](const std::string& line) { return line.find("launches=") != line.npos; })
                  .value_or("")
                  .ends_with("launches=3"))
      << shell->allLines();
  shell->signal(SIGTERM);
  EXPECT_EQ(shell->wait(), 0);
}

// Started from a shell whose umask lets everyone read new files, on a home
// an older version left open: the home is tightened (and says so), and
// what the shell and WebKit's processes write in it (local storage,
// cookies, caches, the backup) is the user's alone.
TEST_F(RunCommand, TheHomeAndWhatWebKitWritesInItArePrivateWhateverTheUmask) {
  fs::create_directories(home_ / "Documents");
  std::ofstream(home_ / "Documents" / "old.txt") << "written by an older version";
  ::chmod(home_.c_str(), 0755);
  ::chmod((home_ / "Documents").c_str(), 0755);
  ::chmod((home_ / "Documents" / "old.txt").c_str(), 0644);
  const mode_t oldMask = ::umask(0);
  auto shell = startShell();
  ::umask(oldMask);
  ASSERT_TRUE(shell->waitForLineContaining("launches=1")) << shell->allLines();
  ASSERT_TRUE(shell->saidSomethingContaining("the start page loaded") ||
              shell->waitForLineContaining("the start page loaded"));
  shell->signal(SIGTERM);
  EXPECT_EQ(shell->wait(), 0) << shell->allLines();
  EXPECT_TRUE(shell->saidSomethingContaining("was open to other users; made 2 folders and 1 files private"))
      << shell->allLines();

  size_t files = 0;
  struct stat st {};
  ASSERT_EQ(::lstat(home_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
  for (const auto& entry : fs::recursive_directory_iterator(home_)) {
    ASSERT_EQ(::lstat(entry.path().c_str(), &st), 0);
    if (S_ISLNK(st.st_mode)) continue;
    EXPECT_EQ(st.st_mode & 077, 0u) << entry.path() << " is open to others: " << std::oct << (st.st_mode & 0777);
    files += S_ISREG(st.st_mode);
  }
  EXPECT_GE(files, 3u);  // the old document, the cookies, the local storage and its backup
}

// Ctrl-C in a terminal signals the whole job: the shell, the web view's
// processes, and (were it in the job) the display.
TEST_F(RunCommand, CtrlCStopsTheShellInOrderFromItsFirstMomentAndNothingCrashes) {
  {
    auto shell = startShell();
    pid_t display = displayOf(*shell);  // the display has just started: GTK and the page not yet
    ASSERT_GT(display, 0) << shell->allLines();
    shell->signalGroup(SIGINT);
    EXPECT_EQ(shell->wait(), 0) << shell->allLines();
    EXPECT_TRUE(waitForProcessToEnd(display)) << "Xvfb outlived the shell";
  }
  auto shell = startShell();
  pid_t display = displayOf(*shell);
  ASSERT_TRUE(shell->waitForLineContaining("the start page loaded")) << shell->allLines();
  shell->signalGroup(SIGINT);
  EXPECT_EQ(shell->wait(), 0);
  shell->readToEnd();
  EXPECT_TRUE(shell->saidSomethingContaining("stopping on SIGINT")) << shell->allLines();
  EXPECT_FALSE(shell->saidSomethingContaining("crashed")) << shell->allLines();
  EXPECT_TRUE(waitForProcessToEnd(display));
}

TEST_F(RunCommand, OnlyAWebProcessThatReallyEndsUnexpectedlyIsCalledACrash) {
  auto shell = startShell();
  ASSERT_TRUE(shell->waitForLineContaining("the start page loaded")) << shell->allLines();
  auto webProcesses = childrenNamed(shell->pid(), "WebKitWebProces");
  ASSERT_FALSE(webProcesses.empty());
  for (pid_t process : webProcesses) ::kill(process, SIGKILL);
  EXPECT_TRUE(shell->waitForLineContaining("the web process ended (crashed)")) << shell->allLines();
  shell->signal(SIGHUP);  // the terminal went away: stopped in order too
  EXPECT_EQ(shell->wait(), 0);
  shell->readToEnd();
  EXPECT_TRUE(shell->saidSomethingContaining("stopping on SIGHUP")) << shell->allLines();
}

// --port 0 (which these tests use): the bridge listens on a free port, and
// that is the port the page client is given.
TEST_F(RunCommand, WithPortZeroThePageIsGivenTheFreePortTheBridgeListensOn) {
  auto shell = startShell();
  auto line = shell->waitForLineContaining("bridge port=");
  ASSERT_TRUE(line) << shell->allLines();
  std::smatch match;
  ASSERT_TRUE(std::regex_search(*line, match, std::regex("bridge port=([0-9]+)"))) << *line;
  const int port = std::stoi(match[1]);
  EXPECT_GT(port, 0);
  EXPECT_NE(port, 3000);
  EXPECT_TRUE(tavero::testing::LoopbackClient(static_cast<uint16_t>(port)).connected()) << "nothing listens on " << port;
  shell->signal(SIGTERM);
  EXPECT_EQ(shell->wait(), 0);
  shell->readToEnd();
  EXPECT_FALSE(shell->saidSomethingContaining("is taken by another program")) << shell->allLines();
}

// A bundle typed relative to the working folder, with "." and ".." in it
// and a trailing separator, loads as if typed in full.
TEST_F(RunCommand, ABundleTypedWithDotsAndATrailingSeparatorLoads) {
  fs::path relative = fs::relative(TAVERO_APP_TESTS_DIR "/counter-app", fs::current_path());
  std::string typed = "./" + (relative / ".." / "counter-app").string() + "/";
  fs::path png = folder_ / "shot.png";
  auto shell = startShell(typed, {"--screenshot", png.string()});
  EXPECT_EQ(shell->wait(), 0);
  shell->readToEnd();
  EXPECT_TRUE(fs::exists(png)) << typed << "\n" << shell->allLines();
  EXPECT_FALSE(shell->saidSomethingContaining("content blocker")) << shell->allLines();
}

TEST_F(RunCommand, AStartPageThatCannotLoadIsAFailureThatNamesTheFile) {
  fs::path bundle = folder_ / "bundle";
  fs::create_directories(bundle / "webapp");
  std::ofstream(bundle / "webapp" / "app.json") << "{}";
  std::ofstream(bundle / "Info.plist") << "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key>"
                                          "<string>org.tavero.test.nostart</string></dict></plist>";
  fs::path png = folder_ / "shot.png";
  {
    auto shell = startShell(bundle, {"--screenshot", png.string()});
    EXPECT_EQ(shell->wait(), 1);
    shell->readToEnd();
    EXPECT_TRUE(shell->saidSomethingContaining((bundle / "webapp" / "index.html").string() + "\" could not be loaded"))
        << shell->allLines();
    EXPECT_FALSE(shell->saidSomethingContaining("the start page loaded")) << shell->allLines();
    EXPECT_FALSE(fs::exists(png));
  }
  // Without a screenshot to take, the window shows the failure and the app runs on.
  auto shell = startShell(bundle);
  EXPECT_TRUE(shell->waitForLineContaining("the window shows the error page")) << shell->allLines();
  shell->signal(SIGTERM);
  EXPECT_EQ(shell->wait(), 0);
}

// scripts/run-demo runs the demo on its own device profile: every key of it
// is one the shell reads, and its start page loads.
TEST_F(RunCommand, TheDemoRunsOnItsOwnDeviceProfile) {
  fs::path demo = fs::path(TAVERO_APP_TESTS_DIR) / "../../examples/demo";
  fs::path png = folder_ / "demo.png";
  auto shell = startShell(demo, {"--device", (demo / "device.json").string(), "--screenshot", png.string()});
  EXPECT_EQ(shell->wait(), 0);
  shell->readToEnd();
  EXPECT_TRUE(fs::exists(png)) << shell->allLines();
  EXPECT_FALSE(shell->saidSomethingContaining("unknown key")) << shell->allLines();
  EXPECT_FALSE(shell->saidSomethingContaining("uncaught")) << shell->allLines();
}

}  // namespace
}  // namespace tavero::app
