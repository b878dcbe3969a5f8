// Whether a process descends from the shell, as the native call socket
// checks its peers: children and grandchildren do, the shell's parent and
// unrelated processes do not, and odd /proc text gives no answer.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/ProcessAncestry.h"

namespace tavero::platform {
namespace {

TEST(ProcessAncestry, ReadsTheParentPastACommandNameWithSpacesAndParentheses) {
  EXPECT_EQ(parentFromStat("1234 (WebKitWebProces) S 1200 1234 1234 0 -1"), 1200);
  EXPECT_EQ(parentFromStat("1234 (a) b) (c) S 77 1 1"), 77);
  for (const char* broken : {"", "1234 (name", "1234 (name) S", "1234 (name) S x 1", "1234 (name) S 12x 1"})
    EXPECT_FALSE(parentFromStat(broken)) << broken;
}

TEST(ProcessAncestry, ChildrenAndGrandchildrenDescendAndNothingElseDoes) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  if (child == 0) {
    pid_t grandchild = ::fork();
    if (grandchild == 0) {
      ::pause();
      ::_exit(0);
    }
    (void)!::write(ready[1], &grandchild, sizeof grandchild);
    ::pause();
    ::_exit(0);
  }
  pid_t grandchild = 0;
  ASSERT_EQ(::read(ready[0], &grandchild, sizeof grandchild), static_cast<ssize_t>(sizeof grandchild));
  EXPECT_TRUE(isDescendantProcess(child, ::getpid()));
  EXPECT_TRUE(isDescendantProcess(grandchild, ::getpid()));
  EXPECT_TRUE(isDescendantProcess(grandchild, child));
  EXPECT_FALSE(isDescendantProcess(::getpid(), ::getpid()));
  EXPECT_FALSE(isDescendantProcess(::getppid(), ::getpid()));
  EXPECT_FALSE(isDescendantProcess(child, grandchild));
  ::kill(grandchild, SIGKILL);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_FALSE(isDescendantProcess(child, ::getpid()));  // gone
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST(ProcessAncestry, AParentLoopInWhatIsReadEndsWithoutAnAnswer) {
  auto proc = std::filesystem::temp_directory_path() / ("tavero-ancestry-" + std::to_string(::getpid()));
  for (auto [pid, parent] : {std::pair{100, 200}, std::pair{200, 100}}) {
    std::filesystem::create_directories(proc / std::to_string(pid));
    std::ofstream(proc / std::to_string(pid) / "stat")
        << pid << " (loop) S " << parent << " 1 1\n";
  }
  EXPECT_FALSE(isDescendantProcess(100, 300, proc));
  EXPECT_TRUE(isDescendantProcess(100, 200, proc));
  std::filesystem::remove_all(proc);
}

}  // namespace
}  // namespace tavero::platform
