#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "app/DeviceCommand.h"
#include "app/DeviceCommandCatalogue.h"
#include "control/ControlServer.h"
#include "control/RunningShells.h"

extern char** environ;

namespace tavero::app {
namespace {

namespace fs = std::filesystem;

// A shell's control side without the shell: a server in a home of its own,
// listed as running under this test's pid or its parent's.
class DeviceCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tavero-device-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "home");
    commands_.add({.name = "badge", .usage = "", .help = "the badge", .thread = control::ControlThread::Any,
                   .handler = [](control::ControlArguments& args) {
                     args.end();
                     json::Object badge;
                     badge.append("badge", 3);
                     return control::ControlAnswer::value(json::Value(std::move(badge)));
                   }});
    auto server = control::ControlServer::start(root_ / "home" / "control.sock", commands_);
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<control::ControlServer>>(server));
    server_ = std::move(std::get<std::unique_ptr<control::ControlServer>>(server));
  }
  void TearDown() override {
    server_.reset();
    fs::remove_all(root_);
  }

  void list(pid_t pid, const std::string& id, const fs::path& home) {
    control::RunningShell shell;
    shell.pid = pid;
    shell.bundleIdentifier = id;
    shell.home = home;
    ASSERT_EQ(control::RunningShells(running()).add(shell), std::nullopt);
  }
  int device(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return runDevice(args, running(), out_, err_);
  }
  fs::path running() const { return root_ / "running"; }

  fs::path root_;
  control::ControlCommandRegistry commands_{nullptr};
  std::unique_ptr<control::ControlServer> server_;
  std::ostringstream out_, err_;
};

TEST_F(DeviceCommandTest, WithOneAppRunningNoOptionIsNeeded) {
  EXPECT_EQ(device({"badge"}), 1);
  EXPECT_NE(err_.str().find("no app is running"), std::string::npos) << err_.str();

  list(::getpid(), "org.example.notes", root_ / "home");
  EXPECT_EQ(device({"help"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("badge"), std::string::npos);
  EXPECT_NE(out_.str().find("lists every command"), std::string::npos);
  EXPECT_EQ(device({"badge"}), 0);
  EXPECT_EQ(out_.str(), "{\n\t \"badge\" : 3}\n");
}

TEST_F(DeviceCommandTest, WithSeveralAppsRunningItListsThemAndTakesAChoice) {
  list(::getpid(), "org.example.notes", root_ / "home");
  list(::getppid(), "org.example.mail", root_ / "elsewhere");
  EXPECT_EQ(device({"badge"}), 1);
  EXPECT_NE(err_.str().find("several apps are running"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("org.example.notes"), std::string::npos);
  EXPECT_NE(err_.str().find("org.example.mail"), std::string::npos);

  EXPECT_EQ(device({"--app", "org.example.notes", "badge"}), 0) << err_.str();
  EXPECT_EQ(device({"--home", (root_ / "home").string(), "badge"}), 0) << err_.str();
  EXPECT_EQ(device({"--app", "org.example.mail", "badge"}), 1);  // listed, but nothing listens there
  EXPECT_NE(err_.str().find("no app is running with the home"), std::string::npos) << err_.str();
  EXPECT_EQ(device({"--app", "org.example.none", "badge"}), 1);
  EXPECT_NE(err_.str().find("no running app has the bundle id \"org.example.none\""), std::string::npos);
}

// Without a running app, `help` lists what every app has (the same
// registration with inert services); with one, it asks the app.
TEST_F(DeviceCommandTest, HelpListsTheCommandsWithOrWithoutARunningApp) {
  EXPECT_EQ(device({"help"}), 0);
  EXPECT_EQ(out_.str(), DeviceCommandCatalogue().helpText());
  for (const char* command : {"app background ", "alert press INDEX [--alert ID]", "store approve TRANSACTION",
                              "geo fix LAT LON", "push deliver JSON", "events [badge|opened-urls|vibrations]",
                              "picker pick [FILE]", "network "})
    EXPECT_NE(out_.str().find(command), std::string::npos) << command << "\n" << out_.str();
  EXPECT_NE(err_.str().find("no app is running"), std::string::npos) << err_.str();

  list(::getpid(), "org.example.notes", root_ / "home");
  EXPECT_EQ(device({"help"}), 0);
  EXPECT_EQ(out_.str(), commands_.helpText());  // this test's server has its own few commands
  // An app that is listed but gone: the list every app has.
  EXPECT_EQ(device({"--home", (root_ / "elsewhere").string(), "help"}), 0);
  EXPECT_EQ(out_.str(), DeviceCommandCatalogue().helpText());
}

TEST_F(DeviceCommandTest, RefusalsAndBadUsageExitNonZeroWithAMessage) {
  list(::getpid(), "org.example.notes", root_ / "home");
  EXPECT_EQ(device({"badge", "extra"}), 1);
  EXPECT_NE(err_.str().find("unexpected argument \"extra\""), std::string::npos) << err_.str();
  EXPECT_EQ(device({"fly"}), 1);
  EXPECT_NE(err_.str().find("unknown command \"fly\""), std::string::npos);
  EXPECT_EQ(device({}), 2);
  EXPECT_EQ(device({"--verbose", "badge"}), 2);
  EXPECT_EQ(device({"--home", "/a", "--app", "b", "badge"}), 2);
}

// The real binary, with its own (empty) folder of running apps.
TEST_F(DeviceCommandTest, TheBinarySaysWhenNoAppIsRunning) {
  std::string runtime = "XDG_RUNTIME_DIR=" + (root_ / "runtime").string();
  fs::create_directories(root_ / "runtime");
  const char* env[] = {runtime.c_str(), "TAVERO_LOG=error", nullptr};
  const char* argv[] = {TAVERO_BINARY, "device", "events", nullptr};
  int errPipe[2];
  ASSERT_EQ(::pipe(errPipe), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, errPipe[0]);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, TAVERO_BINARY, &actions, nullptr, const_cast<char**>(argv), const_cast<char**>(env)), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(errPipe[1]);
  std::string err;
  char chunk[512];
  for (ssize_t n; (n = ::read(errPipe[0], chunk, sizeof chunk)) > 0;) err.append(chunk, static_cast<size_t>(n));
  ::close(errPipe[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_NE(err.find("tavero device: no app is running"), std::string::npos) << err;
}

}  // namespace
}  // namespace tavero::app
