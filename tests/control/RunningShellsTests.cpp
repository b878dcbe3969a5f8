#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "control/RunningShells.h"

namespace tavero::control {
namespace {

namespace fs = std::filesystem;

class RunningShellsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tavero-running-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  static RunningShell shell(pid_t pid, std::string id) {
    return RunningShell{.pid = pid,
                        .bundleIdentifier = std::move(id),
                        .displayName = "Notes \"beta\"",
                        .bundle = "/apps/notes",
                        .home = "/homes/notes",
                        .urlSchemes = {"notes", "x-notes"}};
  }

  // The pid of a process that has ended.
  static pid_t endedProcess() {
    pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
  }

  fs::path root_;
};

TEST_F(RunningShellsTest, AShellIsListedUntilItIsRemoved) {
  RunningShells shells(root_ / "tavero");
  ASSERT_EQ(shells.add(shell(::getpid(), "org.example.notes")), std::nullopt);
  struct stat info {};
  ASSERT_EQ(::stat((root_ / "tavero").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  auto listed = shells.list();
  ASSERT_TRUE(std::holds_alternative<std::vector<RunningShell>>(listed));
  auto& found = std::get<std::vector<RunningShell>>(listed);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].pid, ::getpid());
  EXPECT_EQ(found[0].bundleIdentifier, "org.example.notes");
  EXPECT_EQ(found[0].displayName, "Notes \"beta\"");
  EXPECT_EQ(found[0].socketPath(), fs::path("/homes/notes/control.sock"));
  EXPECT_EQ(found[0].urlSchemes, (std::vector<std::string>{"notes", "x-notes"}));

  shells.remove(::getpid());
  EXPECT_TRUE(std::get<std::vector<RunningShell>>(shells.list()).empty());
}

TEST_F(RunningShellsTest, EntriesOfEndedOrReusedProcessesAreDroppedAndRemoved) {
  RunningShells shells(root_ / "tavero");
  ASSERT_EQ(shells.add(shell(::getpid(), "org.example.live")), std::nullopt);
  // A shell killed with -9 leaves its entry behind.
  pid_t ended = endedProcess();
  fs::path endedEntry = root_ / "tavero" / (std::to_string(ended) + ".json");
  std::ofstream(endedEntry) << "{\"pid\": " << ended << ", \"started\": \"1\", \"home\": \"/h\"}";
  // A live process that got the pid of a shell that ended long ago: its
  // start time differs from the one recorded.
  pid_t parent = ::getppid();
  fs::path reusedEntry = root_ / "tavero" / (std::to_string(parent) + ".json");
  std::ofstream(reusedEntry) << "{\"pid\": " << parent << ", \"started\": \"1\", \"home\": \"/h\"}";
  std::ofstream(root_ / "tavero" / "garbage.json") << "{";

  auto found = std::get<std::vector<RunningShell>>(shells.list());
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].bundleIdentifier, "org.example.live");
  EXPECT_FALSE(fs::exists(endedEntry));
  EXPECT_FALSE(fs::exists(reusedEntry));
}

TEST_F(RunningShellsTest, AFolderOthersCanReachIsNotUsed) {
  fs::create_directories(root_ / "shared");
  ::chmod((root_ / "shared").c_str(), 0777);
  RunningShells shells(root_ / "shared");
  auto added = shells.add(shell(::getpid(), "org.example.notes"));
  ASSERT_TRUE(added);
  EXPECT_NE(added->find("not a private folder"), std::string::npos);
  EXPECT_TRUE(std::holds_alternative<std::string>(shells.list()));
  EXPECT_TRUE(fs::is_empty(root_ / "shared"));

  // A symbolic link in its place is not followed.
  fs::create_directories(root_ / "elsewhere");
  ::chmod((root_ / "elsewhere").c_str(), 0700);
  fs::create_directory_symlink(root_ / "elsewhere", root_ / "link");
  EXPECT_TRUE(RunningShells(root_ / "link").add(shell(::getpid(), "org.example.notes")));
}

TEST(ProcessStartTime, IsKnownForLiveProcessesOnly) {
  EXPECT_TRUE(processStartTime(::getpid()));
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  // Ended but not reaped: what a shell killed with -9 is until its parent
  // waits for it (forever, under a parent that never does).
  siginfo_t info{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
  EXPECT_FALSE(processStartTime(child));
  ::waitpid(child, nullptr, 0);
  EXPECT_FALSE(processStartTime(child));
}

}  // namespace
}  // namespace tavero::control
