// Device events in the real web view, driven the way a developer drives
// them: through `tavero device` and the shell's control socket.
#include <sys/stat.h>

#include "e2e/EndToEndFixture.h"

namespace tavero::app::e2e {
namespace {

using DeviceEventsEndToEnd = EndToEndTest;

// Whether the bridge serves the pages (in the background it keeps its port
// but refuses every connection and every channel message).
bool bridgeListens(ShellApplication& shell) { return shell.bridge().isServing(); }

TEST_F(DeviceEventsEndToEnd, TheControlSocketDrivesTheLifecycleAndGoesAwayWithTheShell) {
  auto shell = makeShell("device-app");
  ASSERT_TRUE(shell->launch());
  ASSERT_TRUE(waitForVerdict(*shell));
  struct stat info {};
  ASSERT_EQ(::stat((home_ / "control.sock").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  CommandOutput help = device(*shell, {"help"});
  EXPECT_EQ(help.exitStatus, 0) << help.err;
  for (const char* line : {"app background", "app foreground", "app terminate", "events"})
    EXPECT_NE(help.out.find(line), std::string::npos) << line << " in\n" << help.out;

  CommandOutput background = device(*shell, {"app", "background"});
  EXPECT_EQ(background.exitStatus, 0) << background.err;
  EXPECT_FALSE(bridgeListens(*shell));
  CommandOutput again = device(*shell, {"app", "background"});
  EXPECT_EQ(again.exitStatus, 1);
  EXPECT_NE(again.err.find("already in the background"), std::string::npos) << again.err;

  // The same commands run in process.
  EXPECT_TRUE(shell->controlCommands().run({"app", "foreground"}).ok());
  EXPECT_TRUE(bridgeListens(*shell));

  CommandOutput unknown = device(*shell, {"app", "explode"});
  EXPECT_EQ(unknown.exitStatus, 1);
  EXPECT_NE(unknown.err.find("the app commands are"), std::string::npos) << unknown.err;

  shell->terminate();
  shell.reset();
  EXPECT_FALSE(fs::exists(home_ / "control.sock"));
}

}  // namespace
}  // namespace tavero::app::e2e
