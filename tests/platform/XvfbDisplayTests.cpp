#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/linux/XvfbDisplay.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;

// Whether a client whose XAUTHORITY is `authority` may use `display`,
// through the ordinary connect path (the abstract socket first).
bool connects(const std::string& display, const fs::path& authority) {
  ::setenv("XAUTHORITY", authority.c_str(), 1);
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  bool ok = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return ok;
}

mode_t modeOf(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class XvfbDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto started = XvfbDisplay::start();
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<XvfbDisplay>>(started)) << std::get<std::string>(started);
    display_ = std::move(std::get<std::unique_ptr<XvfbDisplay>>(started));
    const char* old = std::getenv("XAUTHORITY");
    if (old) oldAuthority_ = old;
  }
  void TearDown() override {
    if (oldAuthority_)
      ::setenv("XAUTHORITY", oldAuthority_->c_str(), 1);
    else
      ::unsetenv("XAUTHORITY");
  }

  std::unique_ptr<XvfbDisplay> display_;
  std::optional<std::string> oldAuthority_;
};

TEST_F(XvfbDisplayTest, OnlyClientsWithTheCookieMayConnect) {
  EXPECT_TRUE(connects(display_->display(), display_->authorityFile()));

  fs::path empty = fs::temp_directory_path() / ("tavero-empty-xauthority-" + std::to_string(::getpid()));
  std::ofstream{empty};
  EXPECT_FALSE(connects(display_->display(), empty)) << "a client without any cookie got in";
  EXPECT_FALSE(connects(display_->display(), "/nonexistent/Xauthority"));
  fs::remove(empty);

  // Another run's cookie (a guess of the right form) does not open this display.
  auto other = XAuthorityFile::create();
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<XAuthorityFile>>(other));
  EXPECT_FALSE(connects(display_->display(), std::get<std::unique_ptr<XAuthorityFile>>(other)->path()));
}

TEST_F(XvfbDisplayTest, AnotherUserCannotReadTheCookieNorConnect) {
  const fs::path file = display_->authorityFile();
  EXPECT_EQ(modeOf(file), 0600u);
  EXPECT_EQ(modeOf(file.parent_path()), 0700u);
  if (::getuid() != 0) GTEST_SKIP() << "becoming another user needs root";

  pid_t child = ::fork();
  if (child == 0) {
    ::alarm(10);
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    if (::access(file.c_str(), R_OK) == 0) ::_exit(2);
    ::_exit(connects(display_->display(), file) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
  EXPECT_NE(WEXITSTATUS(status), 3) << "could not become the other user";
  EXPECT_NE(WEXITSTATUS(status), 2) << "the other user can read the cookie";
  EXPECT_NE(WEXITSTATUS(status), 1) << "the other user connected to the display";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(XvfbDisplayTest, TheCookieGoesWithTheDisplay) {
  const fs::path file = display_->authorityFile();
  ASSERT_TRUE(fs::exists(file));
  display_.reset();
  EXPECT_FALSE(fs::exists(file));
  EXPECT_FALSE(fs::exists(file.parent_path()));
}

// A shell killed with -9 cannot remove its cookie; the user's next display
// does. Another user's folder, a live process's folder and a link are kept.
TEST(XAuthorityFile, TheNextRunRemovesWhatKilledRunsLeftBehind) {
  const fs::path base = fs::temp_directory_path() / ("tavero-xauth-base-" + std::to_string(::getpid()));
  fs::remove_all(base);
  fs::create_directories(base);
  const char* oldTmp = std::getenv("TMPDIR");
  std::string keptTmp = oldTmp ? oldTmp : "";
  ::setenv("TMPDIR", base.c_str(), 1);

  pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const fs::path leftover = base / ("tavero-display-" + std::to_string(gone) + "-abcdef");
  const fs::path live = base / ("tavero-display-" + std::to_string(::getpid()) + "-abcdef");
  const fs::path othersUser = base / ("tavero-display-" + std::to_string(gone) + "-other1");
  const fs::path link = base / ("tavero-display-" + std::to_string(gone) + "-link12");
  for (const fs::path& folder : {leftover, live, othersUser}) {
    fs::create_directories(folder);
    std::ofstream(folder / "Xauthority") << "cookie";
  }
  fs::create_symlink(live, link);
  if (::getuid() == 0) {
    ASSERT_EQ(::chown(othersUser.c_str(), 65534, 65534), 0);
  }

  auto made = XAuthorityFile::create();
  if (oldTmp)
    ::setenv("TMPDIR", keptTmp.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<XAuthorityFile>>(made)) << std::get<std::string>(made);
  EXPECT_EQ(std::get<std::unique_ptr<XAuthorityFile>>(made)->path().parent_path().parent_path(), base);
  EXPECT_FALSE(fs::exists(leftover));
  EXPECT_TRUE(fs::exists(live / "Xauthority"));
  EXPECT_TRUE(fs::is_symlink(link));
  if (::getuid() == 0) {
    EXPECT_TRUE(fs::exists(othersUser / "Xauthority"));
  }
  made = std::string();
  fs::remove_all(base);
}

}  // namespace
}  // namespace tavero::platform
