// Backing up local storage on a disk whose writes fail: each write, sync or
// truncation SQLite makes for the backup fails in turn. The previous backup
// must stay whole and readable, the failure must be logged, no temporary
// file may stay, and the next backup must hold the newest rows.
#include "host/LocalStorageFixture.h"
#include "support/FailingWrites.h"

namespace tavero::host {
namespace {

using testing::FailingSQLiteFiles;
using testing::FailingWrites;
using LocalStorageWriteFaults = TempFolderTest;

TEST_F(LocalStorageWriteFaults, AFailedBackupKeepsThePreviousOneWholeAndTheNextOneTakesEverything) {
  const fs::path live = TQLocalStoreageFix::liveDatabasePath(home);
  const fs::path backup = TQLocalStoreageFix::backupPath(home);
  fs::create_directories(live.parent_path());
  Database writer(live);
  makeLiveDatabaseWithRowInWal(writer, "count", "1");
  TQLocalStoreageFix::preserveLocalStorage(home);
  ASSERT_EQ(Database(backup).value("count"), "1");
  writer.exec("INSERT INTO ItemTable VALUES ('count', CAST('2' AS BLOB))");
  writer.exec("INSERT INTO ItemTable VALUES ('big', zeroblob(50000))");  // several pages to copy

  FailingWrites disk;
  FailingSQLiteFiles sqliteFiles(disk);
  int step = 1, unharmed = 0;
  constexpr int kMaxSteps = 200;
  for (; step <= kMaxSteps; ++step) {
    SCOPED_TRACE("failing step " + std::to_string(step));
    logged.clear();
    disk.failOperation(step, step % 2 ? ENOSPC : EIO);
    TQLocalStoreageFix::preserveLocalStorage(home);
    const bool failedStep = disk.failed();
    disk.failOperation(0);
    EXPECT_EQ(namesIn(home.documents()), std::vector<std::string>{".file__0.localstorage"});
    EXPECT_TRUE(passesQuickCheck(backup));
    if (!failedStep) break;
    if (loggedLineContaining("Could not back up localStorage")) {
      EXPECT_EQ(Database(backup).value("count"), "1") << "the failed backup replaced the previous one";
      EXPECT_TRUE(loggedLineContaining("the previous backup is kept"));
      continue;
    }
    // The failure did not matter (SQLite retried, or it came after the copy
    // was whole): the backup is the new one. Back to the previous one.
    ++unharmed;
    EXPECT_EQ(readFile(backup)[18], 1) << "a backup left in WAL mode was taken as done";
    EXPECT_EQ(Database(backup).value("count"), "2") << "a backup missing rows was taken as done";
    writer.exec("INSERT INTO ItemTable VALUES ('count', CAST('1' AS BLOB))");
    TQLocalStoreageFix::preserveLocalStorage(home);
    ASSERT_EQ(Database(backup).value("count"), "1");
    writer.exec("INSERT INTO ItemTable VALUES ('count', CAST('2' AS BLOB))");
  }
  EXPECT_LT(step, kMaxSteps) << "a backup never succeeded";
  EXPECT_GE(step - unharmed, 10) << "too few steps failed the backup: were SQLite's writes counted?";
  EXPECT_EQ(Database(backup).value("count"), "2");
  EXPECT_FALSE(loggedLineContaining("Could not back up localStorage"));
}

}  // namespace
}  // namespace tavero::host
