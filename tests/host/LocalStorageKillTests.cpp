// The local storage survives a shell killed at any moment (kill -9, power
// loss): a child process plays the web view writing its storage and the
// shell backing it up, and is killed at several points; the next launch
// must keep every write that reached the disk and clear what the child left
// half done.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "host/LocalStorageFixture.h"

namespace tavero::host {
namespace {

// A forked child running `work(report)`, where report(n) tells the parent
// that step n is done (on disk). The child never returns into the test.
class Child {
 public:
  explicit Child(const std::function<void(const std::function<void(int)>&)>& work) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      int out = fds[1];
      work([out](int step) {
        if (::write(out, &step, sizeof step) != sizeof step) _exit(3);
      });
      _exit(0);
    }
    ::close(fds[1]);
    fd_ = fds[0];
  }
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) ::close(fd_);
  }

  // Reads reports until one reaches `step`; the last report read, or -1
  // when the child ended first.
  int waitForStep(int step) {
    int last = -1;
    while (last < step) {
      int got = 0;
      ssize_t n = ::read(fd_, &got, sizeof got);
      if (n != sizeof got) return -1;
      last = got;
    }
    return last;
  }

  // Kills the child where it is, and returns the last step it reported.
  int kill(int reportedSoFar) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    int last = reportedSoFar;
    for (int got = 0; ::read(fd_, &got, sizeof got) == sizeof got;) last = got;
    return last;
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
};

int storedCount(const fs::path& file) {
  auto value = Database(file).value("count");
  return value ? std::stoi(*value) : -1;
}

// Writes count = 1, 2, 3... as the web view does (WAL mode, one transaction
// each), backing up after every fourth write as the shell does when it
// loses focus. Stops by itself after `steps` writes.
void writeAndBackUp(const HomeFolders& home, int steps, const std::function<void(int)>& report) {
  sqlite3* db = nullptr;
  if (sqlite3_open(TQLocalStoreageFix::liveDatabasePath(home).c_str(), &db) != SQLITE_OK) _exit(2);
  for (int i = 1; i <= steps; ++i) {
    std::string sql = "INSERT INTO ItemTable VALUES ('count', CAST('" + std::to_string(i) + "' AS BLOB))";
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) _exit(2);
    report(i);
    if (i % 4 == 0) TQLocalStoreageFix::preserveLocalStorage(home);
  }
  sqlite3_close(db);
}

using LocalStorageKill = TempFolderTest;

TEST_F(LocalStorageKill, AKilledShellLosesNoWriteThatReachedTheDiskAndLeavesNoLeftovers) {
  for (int killAfter : {1, 4, 5, 13, 40}) {
    SCOPED_TRACE("killed after write " + std::to_string(killAfter));
    fs::remove_all(home.home);
    fs::path live = TQLocalStoreageFix::liveDatabasePath(home);
    fs::create_directories(live.parent_path());
    {
      Database setup(live);
      setup.exec("PRAGMA journal_mode=WAL");
      setup.exec(createItemTable);
      setup.exec("INSERT INTO ItemTable VALUES ('count', CAST('0' AS BLOB))");
    }
    TQLocalStoreageFix::preserveLocalStorage(home);  // the backup holds 0

    int written = 0;
    {
      Child child([&](const std::function<void(int)>& report) { writeAndBackUp(home, 1000, report); });
      int seen = child.waitForStep(killAfter);
      ASSERT_GE(seen, killAfter) << "the writer ended early";
      written = child.kill(seen);  // lands wherever the child is: mid-write, mid-backup...
    }

    TQLocalStoreageFix::restoreLocalStorage(home);  // the next launch
    EXPECT_GE(storedCount(live), written);
    for (const auto& name : namesIn(home.documents())) {
      EXPECT_TRUE(name == ".file__0.localstorage") << "left behind: " << name;
    }
    EXPECT_TRUE(passesQuickCheck(TQLocalStoreageFix::backupPath(home)));
    EXPECT_EQ(namesIn(live.parent_path()).front(), "file__0.localstorage");
  }
}

// A process id that no running process has: a child that has ended and
// been reaped.
pid_t endedProcessId() {
  pid_t pid = ::fork();
  if (pid == 0) _exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

TEST_F(LocalStorageKill, LeftoversOfEndedRunsAreClearedAtLaunchButNotThoseOfRunningOnes) {
  const std::string ended = std::to_string(endedProcessId());
  const std::string running = std::to_string(::getppid());
  fs::path documents = home.documents();
  fs::path liveFolder = home.localStorageFolder();
  const std::string tmp = ".file__0.localstorage.tmp-";
  for (const std::string& name : std::vector<std::string>{tmp + ended, tmp + ended + "-journal", tmp + ended + "-wal",
                                                          tmp + running, tmp + "12x", tmp, "notes.txt"}) {
    writeFile(documents / name, "x");
  }
  writeFile(documents / (".localstorage-snapshot-" + ended) / "file__0.localstorage", "x");
  // A leftover name that is a link: the link goes, never what it points to.
  writeFile(root / "elsewhere" / "precious", "keep");
  fs::create_symlink(root / "elsewhere", documents / (tmp + ended + "-shm"));
  writeFile(liveFolder / (".file__0.localstorage.restore-" + ended), "x");
  writeFile(liveFolder / "file__0.localstorage.restore-1", "x");  // not one of ours

  TQLocalStoreageFix::restoreLocalStorage(home);  // no backup: only the clearing happens
  std::vector<std::string> kept = {tmp, tmp + "12x", tmp + running, "notes.txt"};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(namesIn(documents), kept);
  EXPECT_EQ(namesIn(liveFolder), std::vector<std::string>{"file__0.localstorage.restore-1"});
  EXPECT_TRUE(loggedLineContaining("left behind by an interrupted run"));
  EXPECT_EQ(readFile(root / "elsewhere" / "precious"), "keep");
}

}  // namespace
}  // namespace tavero::host
