// The `tavero` binary's command line: help, version, and exit statuses that
// tell a usage error (2, nothing started) from a failure while running (1).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/RunCommand.h"
#include "support/ChildProcess.h"

namespace tavero::app {
namespace {

namespace fs = std::filesystem;
using tavero::testing::ChildProcess;

struct Outcome {
  std::optional<int> status;
  std::string out;
  std::string err;
};

Outcome runTavero(std::vector<std::string> args, std::vector<std::string> environment = {}) {
  args.insert(args.begin(), TAVERO_BINARY);
  ChildProcess child(std::move(args), {.environment = std::move(environment), .keepStdout = true});
  Outcome outcome;
  outcome.out = child.readStdout();
  child.readToEnd();
  outcome.err = child.allLines();
  outcome.status = child.wait();
  return outcome;
}

TEST(CommandLine, HelpAndVersionGoToStandardOutputAndSucceed) {
  auto version = runTavero({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "tavero " TAVERO_VERSION "\n");

  for (auto args : {std::vector<std::string>{"--help"}, {"run", "--help"}, {"serve", "--help"}, {"create", "--help"},
                    {"run", "bundle", "--help"}}) {
    auto help = runTavero(args);
    EXPECT_EQ(help.status, 0) << args.back();
    EXPECT_NE(help.out.find("usage"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("exit status"), std::string::npos) << help.out;
    EXPECT_TRUE(help.err.empty()) << help.err;
  }
}

// Every command and subcommand, with --help or -h anywhere after it: its
// usage on standard output, exit status 0, nothing started or asked of an app.
TEST(CommandLine, EveryCommandAnswersHelp) {
  fs::path runtime = fs::temp_directory_path() / ("tavero-help-" + std::to_string(::getpid()));
  fs::create_directories(runtime);
  for (const char* flag : {"--help", "-h"}) {
    for (auto args : {std::vector<std::string>{"install"}, {"install", "--take-schemes"}, {"uninstall"}, {"create"},
                      {"uninstall", "org.example.notes"}, {"open-url"}, {"open-url", "notes://x"}, {"run"},
                      {"serve"}, {"device"}, {"device", "app", "background"}, {"device", "alert", "press", "1"},
                      {"device", "events"}, {"device", "store"}}) {
      args.push_back(flag);
      auto help = runTavero(args, {"XDG_RUNTIME_DIR=" + runtime.string()});
      EXPECT_EQ(help.status, 0) << args.front() << " " << args[1];
      EXPECT_NE(help.out.find("usage: tavero " + args.front()), std::string::npos) << help.out;
    }
  }
  auto one = runTavero({"device", "alert", "press", "--help"}, {"XDG_RUNTIME_DIR=" + runtime.string()});
  EXPECT_EQ(one.out.substr(0, one.out.find('\n')), "usage: tavero device alert press INDEX [--alert ID]");
  auto group = runTavero({"device", "app", "-h"}, {"XDG_RUNTIME_DIR=" + runtime.string()});
  EXPECT_NE(group.out.find("\napp background "), std::string::npos) << group.out;
  EXPECT_NE(group.out.find("\napp terminate "), std::string::npos) << group.out;
  auto unknown = runTavero({"device", "fly", "--help"}, {"XDG_RUNTIME_DIR=" + runtime.string()});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("no command \"fly\""), std::string::npos) << unknown.err;
  fs::remove_all(runtime);
}

TEST(CommandLine, ACommandLineThatCannotBeUsedIsAUsageErrorOnStandardError) {
  for (auto args : {std::vector<std::string>{}, {"fly"}, {"run"}, {"run", "a", "b"}, {"run", "a", "--colour"},
                    {"run", "a", "--home"}, {"serve", "--port", "x"}, {"run", "a", "--port", "65536"},
                    {"run", "a", "--port", "-1"}, {"run", "a", "--port", ""}, {"run", "a", "--port"},
                    {"run", "a", "--camera", "webcam"}, {"run", "a", "--camera"}}) {
    auto outcome = runTavero(args);
    EXPECT_EQ(outcome.status, 2) << (args.empty() ? "(nothing)" : args.back());
    EXPECT_TRUE(outcome.out.empty()) << outcome.out;
    EXPECT_FALSE(outcome.err.empty());
  }
}

TEST(CommandLine, RunKeepsTheBridgeOnPort3000UnlessToldOtherwise) {
  EXPECT_EQ(parseRunOptions({"bundle"})->port, 3000);
  EXPECT_EQ(parseRunOptions({"bundle", "--port", "0"})->port, 0);
  EXPECT_EQ(parseRunOptions({"bundle", "--port", "40123", "--headless"})->port, 40123);
}

TEST(CommandLine, RunTakesTheContactsFromTheProfileUnlessToldFolderOrSystem) {
  EXPECT_FALSE(parseRunOptions({"bundle"})->systemContacts);
  EXPECT_EQ(parseRunOptions({"bundle", "--contacts", "system"})->systemContacts, true);
  EXPECT_EQ(parseRunOptions({"bundle", "--contacts", "folder"})->systemContacts, false);
  EXPECT_FALSE(parseRunOptions({"bundle", "--contacts", "eds"}));
  EXPECT_FALSE(parseRunOptions({"bundle", "--contacts"}));
}

// --camera overrides the profile's camera.source only when given.
TEST(CommandLine, RunTakesTheCameraFromTheProfileUnlessTold) {
  EXPECT_FALSE(parseRunOptions({"bundle"})->systemCamera);
  EXPECT_EQ(parseRunOptions({"bundle", "--camera", "system"})->systemCamera, true);
  EXPECT_EQ(parseRunOptions({"bundle", "--camera", "simulated"})->systemCamera, false);
}

TEST(CommandLine, RunChoosesThePushAndNotificationRoadsOnlyWhenTold) {
  auto plain = parseRunOptions({"bundle"});
  EXPECT_EQ(plain->unifiedPush, std::nullopt);
  EXPECT_EQ(plain->desktopNotifications, std::nullopt);
  auto chosen = parseRunOptions({"bundle", "--push", "unifiedpush", "--notifications", "none"});
  EXPECT_EQ(chosen->unifiedPush, true);
  EXPECT_EQ(chosen->desktopNotifications, false);
  EXPECT_EQ(parseRunOptions({"bundle", "--push", "simulated"})->unifiedPush, false);
  for (std::vector<std::string> bad : {std::vector<std::string>{"bundle", "--push", "apns"},
                                       {"bundle", "--notifications", "on"}, {"bundle", "--push"}})
    EXPECT_FALSE(parseRunOptions(bad)) << bad[1];
}

class CommandLineFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("tavero-cli-" + std::to_string(::getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
};

// A profile or bundle mistake is found before anything is started or
// created: no display is needed, and the home stays untouched.
TEST_F(CommandLineFiles, ABadProfileOrBundleCreatesNothingAndIsAUsageError) {
  fs::path profile = folder_ / "profile.json";
  std::ofstream(profile) << R"({"name": 7})";
  fs::path home = folder_ / "home";
  auto outcome = runTavero({"run", TAVERO_APP_TESTS_DIR "/counter-app", "--home", home.string(), "--device",
                            profile.string(), "--headless"},
                           {"DISPLAY="});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_NE(outcome.err.find("\"name\""), std::string::npos) << outcome.err;
  EXPECT_FALSE(fs::exists(home));

  auto missing = runTavero({"run", (folder_ / "no-such-bundle").string(), "--home", home.string()});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("no-such-bundle"), std::string::npos) << missing.err;
  EXPECT_FALSE(fs::exists(home));
}

}  // namespace
}  // namespace tavero::app
