#include <gtest/gtest.h>
#include <plist/plist.h>
#include <stdlib.h>
#include <sys/mount.h>

#include <cstring>

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "host/LocalStorageFixture.h"
#include "platform/linux/PlistBundleReader.h"

namespace tavero::host {
namespace {

using LocalStorageTest = TempFolderTest;

TEST_F(LocalStorageTest, WithoutABackupRestoreLeavesTheLiveStorageAlone) {
  fs::path live = TQLocalStoreageFix::liveDatabasePath(home);
  writeFile(live, "live");
  writeFile(live.string() + "-wal", "wal");
  TQLocalStoreageFix::restoreLocalStorage(home);
  EXPECT_EQ(readFile(live), "live");
  EXPECT_EQ(readFile(live.string() + "-wal"), "wal");
}

TEST_F(LocalStorageTest, RestoreBringsBackStorageThatIsGoneEmptyOrDamaged) {
  makeStorage(TQLocalStoreageFix::backupPath(home), "greeting", "from the backup");
  fs::path live = TQLocalStoreageFix::liveDatabasePath(home);

  // No live folder yet: it is created with its parents.
  TQLocalStoreageFix::restoreLocalStorage(home);
  EXPECT_EQ(Database(live).value("greeting"), "from the backup");

  // A database without tables, as a kill while the web view created it leaves.
  fs::remove(live);
  writeFile(live, "");
  TQLocalStoreageFix::restoreLocalStorage(home);
  EXPECT_EQ(Database(live).value("greeting"), "from the backup");

  // Not a database: it is kept aside, never merged or deleted; none of its
  // journals stays to be replayed over the restored database.
  writeFile(live, std::string(8192, 'x'));
  for (const char* suffix : {"-wal", "-shm", "-journal"}) writeFile(live.string() + suffix, "stale");
  TQLocalStoreageFix::restoreLocalStorage(home);
  EXPECT_EQ(Database(live).value("greeting"), "from the backup");
  EXPECT_EQ(namesIn(home.localStorageFolder()), std::vector<std::string>{"file__0.localstorage"});
  fs::path damaged = TQLocalStoreageFix::damagedPath(home);
  EXPECT_EQ(readFile(damaged), std::string(8192, 'x'));
  EXPECT_TRUE(loggedLineContaining("damaged"));

  // A database with corrupt pages.
  fs::remove(live);
  {
    Database db(live);
    db.exec(createItemTable);
    db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200) "
            "INSERT INTO ItemTable SELECT 'k' || i, randomblob(100) FROM n");
  }
  std::string bytes = readFile(live);
  ASSERT_GT(bytes.size(), 3 * 4096u);
  std::fill(bytes.begin() + 4096 + 8, bytes.begin() + 3 * 4096, '\xff');
  writeFile(live, bytes);
  TQLocalStoreageFix::restoreLocalStorage(home);
  EXPECT_EQ(Database(live).value("greeting"), "from the backup");
  EXPECT_EQ(readFile(damaged), bytes);
}

TEST_F(LocalStorageTest, AnIntactLiveDatabaseIsNeverReplacedByTheOlderBackup) {
  makeStorage(TQLocalStoreageFix::backupPath(home), "greeting", "older");
  fs::path live = TQLocalStoreageFix::liveDatabasePath(home);
  fs::create_directories(live.parent_path());
  {
    Database writer(live);
    makeLiveDatabaseWithRowInWal(writer, "greeting", "newer, only in the wal");
    fs::copy_file(live, root / "main");
    fs::copy_file(live.string() + "-wal", root / "wal");
  }
  // As a killed web view leaves it: the WAL beside the database, not checkpointed.
  fs::copy_file(root / "main", live, fs::copy_options::overwrite_existing);
  fs::copy_file(root / "wal", live.string() + "-wal", fs::copy_options::overwrite_existing);
  TQLocalStoreageFix::restoreLocalStorage(home);
  EXPECT_EQ(Database(live).value("greeting"), "newer, only in the wal");
  EXPECT_EQ(Database(TQLocalStoreageFix::backupPath(home)).value("greeting"), "older");
  EXPECT_FALSE(fs::exists(TQLocalStoreageFix::damagedPath(home)));
}

TEST_F(LocalStorageTest, ADamagedBackupIsNotRestored) {
  writeFile(TQLocalStoreageFix::backupPath(home), "not a database at all");
  TQLocalStoreageFix::restoreLocalStorage(home);
  EXPECT_FALSE(fs::exists(TQLocalStoreageFix::liveDatabasePath(home)));
  EXPECT_TRUE(fs::is_empty(home.localStorageFolder()));
  EXPECT_TRUE(loggedLineContaining("the backup is damaged"));
}

TEST_F(LocalStorageTest, RowsOnlyInTheWalSurvivePreserveAndRestore) {
  fs::path live = TQLocalStoreageFix::liveDatabasePath(home);
  fs::create_directories(live.parent_path());
  {
    Database writer(live);
    makeLiveDatabaseWithRowInWal(writer, "greeting", "hello");
    ASSERT_GT(fs::file_size(live.string() + "-wal"), 0u);

    // Copying the main file alone loses the row: this is what preserve must avoid.
    fs::copy_file(live, root / "naive-copy");
    EXPECT_EQ(Database(root / "naive-copy").value("greeting"), std::nullopt);

    TQLocalStoreageFix::preserveLocalStorage(home);
  }
  fs::path backup = TQLocalStoreageFix::backupPath(home);
  EXPECT_EQ(namesIn(home.documents()), std::vector<std::string>{".file__0.localstorage"});
  std::string header = readFile(backup).substr(0, 20);
  EXPECT_EQ(header[18], 1) << "the backup is left in WAL mode";

  fs::remove_all(home.webData());
  TQLocalStoreageFix::restoreLocalStorage(home);
  EXPECT_EQ(Database(live).value("greeting"), "hello");
}

// Without a -shm file and a writable folder a read-only connection cannot
// open a WAL database; preserve then reads a private copy. (Run as root the
// folder stays writable and the direct path is taken.)
TEST_F(LocalStorageTest, PreserveReadsAWalDatabaseInAReadOnlyFolder) {
  fs::path source = root / "source" / "file__0.localstorage";
  fs::path live = TQLocalStoreageFix::liveDatabasePath(home);
  fs::create_directories(source.parent_path());
  fs::create_directories(live.parent_path());
  {
    Database writer(source);
    makeLiveDatabaseWithRowInWal(writer, "k", "in the wal");
    fs::copy_file(source, live);
    fs::copy_file(source.string() + "-wal", live.string() + "-wal");
  }
  fs::permissions(live.parent_path(),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  TQLocalStoreageFix::preserveLocalStorage(home);
  fs::permissions(live.parent_path(), fs::perms::owner_write, fs::perm_options::add);

  EXPECT_EQ(Database(TQLocalStoreageFix::backupPath(home)).value("k"), "in the wal");
  EXPECT_EQ(namesIn(home.documents()), std::vector<std::string>{".file__0.localstorage"});
}

TEST_F(LocalStorageTest, APreserveThatCannotReadKeepsThePreviousBackup) {
  fs::path backup = TQLocalStoreageFix::backupPath(home);
  writeFile(backup, "previous backup");

  // No live database: nothing to do.
  TQLocalStoreageFix::preserveLocalStorage(home);
  EXPECT_EQ(readFile(backup), "previous backup");

  // A live file that is not a database.
  writeFile(TQLocalStoreageFix::liveDatabasePath(home), std::string(8192, 'x'));
  TQLocalStoreageFix::preserveLocalStorage(home);
  EXPECT_EQ(readFile(backup), "previous backup");
  EXPECT_EQ(namesIn(home.documents()), std::vector<std::string>{".file__0.localstorage"});
  EXPECT_TRUE(loggedLineContaining("Could not back up localStorage"));
}

// A backup that fails for a full disk says at error level that data may be
// lost. Mounting a small file system needs root; elsewhere it is skipped.
TEST_F(LocalStorageTest, ABackupOnAFullDiskIsAnErrorSayingDataMayBeLost) {
  fs::create_directories(home.documents());
  if (::mount("tavero-test", home.documents().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=16k") != 0)
    GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
  struct Unmount {
    fs::path point;
    ~Unmount() { ::umount2(point.c_str(), MNT_DETACH); }
  } unmount{home.documents()};
  makeStorage(TQLocalStoreageFix::liveDatabasePath(home), "big", std::string(200 * 1024, 'x'));
  std::vector<std::string> errors;
  log::setSink([&](log::Level level, std::string_view line) {
    if (level == log::Level::Error) errors.emplace_back(line);
  });
  TQLocalStoreageFix::preserveLocalStorage(home);
  log::setSink({});
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("DATA MAY BE LOST"), std::string::npos) << errors[0];
  EXPECT_NE(errors[0].find("full"), std::string::npos) << errors[0];
  EXPECT_TRUE(namesIn(home.documents()).empty());  // no half-written backup
}

TEST_F(LocalStorageTest, CopyFileReportsEachFailure) {
  std::string message = "untouched";
  writeFile(root / "source", "data");
  writeFile(root / "out" / "deep" / "target", "old");
  EXPECT_EQ(
      TQLocalStoreageFix::copyFile(root / "source", root / "out" / "deep", "target", &message), 0);
  EXPECT_EQ(readFile(root / "out" / "deep" / "target"), "data");
  EXPECT_EQ(message, "untouched");

  EXPECT_EQ(TQLocalStoreageFix::copyFile(root / "missing", root / "out", "target", &message), -2);
  EXPECT_EQ(message, "Could not copy localstorage backup");

  writeFile(root / "out" / "busy" / "inside", "x");
  EXPECT_EQ(TQLocalStoreageFix::copyFile(root / "source", root / "out", "busy", &message), -1);
  EXPECT_EQ(message, "Could not remove source file while backing up localstorage");
  EXPECT_EQ(TQLocalStoreageFix::copyFile(root / "missing", root / "out", "busy", nullptr), -1);
}

// Bundles

const char* const fullInfoPlist = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>IndexPage</key><string>start.html</string>
  <key>UISupportedInterfaceOrientations</key>
  <array><string>UIInterfaceOrientationPortrait</string><string>UIInterfaceOrientationLandscapeLeft</string></array>
  <key>CFBundleIdentifier</key><string>com.example.notes</string>
  <key>CFBundleName</key><string>Notes</string>
  <key>CFBundleDisplayName</key><string>My Notes</string>
</dict>
</plist>)";

std::string dictPlist(const std::string& body) {
  return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>" + body + "</dict></plist>";
}

class BundleTest : public TempFolderTest {
 protected:
  fs::path makeBundle(const std::string& name, const std::optional<std::string>& plist,
                      bool withWebapp = true) {
    fs::path folder = root / name;
    fs::create_directories(folder);
    if (plist) writeFile(folder / "Info.plist", *plist);
    if (withWebapp) writeFile(folder / "webapp" / "app.json", "{}");
    return folder;
  }
  std::string errorFor(const fs::path& folder) {
    auto result = platform::readBundle(folder);
    return std::holds_alternative<std::string>(result) ? std::get<std::string>(result) : "";
  }
};

TEST_F(BundleTest, ReadsTheKeysAndKeepsThePathAsGiven) {
  fs::path folder = makeBundle("My Notes.bundle", fullInfoPlist);
  auto result = platform::readBundle(folder / "");
  ASSERT_TRUE(std::holds_alternative<platform::BundleInfo>(result))
      << std::get<std::string>(result);
  const auto& info = std::get<platform::BundleInfo>(result);
  EXPECT_EQ(info.path, folder);
  EXPECT_EQ(info.webappPath(), root / "My Notes.bundle" / "webapp");
  EXPECT_EQ(info.indexPage, "start.html");
  EXPECT_EQ(info.supportedOrientations,
            (std::vector<std::string>{"UIInterfaceOrientationPortrait",
                                      "UIInterfaceOrientationLandscapeLeft"}));
  EXPECT_EQ(info.bundleIdentifier, "com.example.notes");
  EXPECT_EQ(info.displayName, "My Notes");
}

TEST_F(BundleTest, MissingKeysAndWrongTypesTakeTheDefaults) {
  auto empty = platform::readBundle(makeBundle("Empty", dictPlist("")));
  const auto& defaults = std::get<platform::BundleInfo>(empty);
  EXPECT_EQ(defaults.indexPage, std::nullopt);
  EXPECT_TRUE(defaults.supportedOrientations.empty());
  EXPECT_EQ(defaults.bundleIdentifier, "Empty");
  EXPECT_EQ(defaults.displayName, "Empty");

  auto wrong = platform::readBundle(makeBundle(
      "Wrong", dictPlist("<key>IndexPage</key><integer>3</integer>"
                         "<key>UISupportedInterfaceOrientations</key>"
                         "<array><string>UIInterfaceOrientationPortrait</string><true/></array>"
                         "<key>CFBundleIdentifier</key><dict/>"
                         "<key>CFBundleName</key><string>Plain Name</string>")));
  const auto& ignored = std::get<platform::BundleInfo>(wrong);
  EXPECT_EQ(ignored.indexPage, std::nullopt);
  EXPECT_TRUE(ignored.supportedOrientations.empty());
  EXPECT_EQ(ignored.bundleIdentifier, "Wrong");
  EXPECT_EQ(ignored.displayName, "Plain Name");
  for (const char* key : {"IndexPage", "UISupportedInterfaceOrientations", "CFBundleIdentifier"}) {
    EXPECT_TRUE(loggedLineContaining(key)) << key;
  }
  EXPECT_TRUE(loggedLineContaining("Info.plist has no CFBundleIdentifier; the folder name \"Empty\""));

  // An empty (or blank) IndexPage would name the webapp folder: warned about, and index.html starts.
  for (const char* blank : {"", " \t"}) {
    fs::path folder = makeBundle("Blank", dictPlist(std::string("<key>IndexPage</key><string>") + blank + "</string>"));
    auto read = platform::readBundle(folder);
    EXPECT_EQ(std::get<platform::BundleInfo>(read).indexPage, std::nullopt);
    EXPECT_TRUE(loggedLineContaining("\"" + (folder / "Info.plist").string() + "\": IndexPage is empty; the start "
                                     "page is index.html"));
  }
}

TEST_F(BundleTest, ReadsBinaryPlists) {
  plist_t dict = plist_new_dict();
  plist_dict_set_item(dict, "IndexPage", plist_new_string("main.html"));
  char* data = nullptr;
  uint32_t length = 0;
  plist_to_bin(dict, &data, &length);
  auto result = platform::readBundle(makeBundle("Binary", std::string(data, length)));
  plist_to_bin_free(data);
  plist_free(dict);
  EXPECT_EQ(std::get<platform::BundleInfo>(result).indexPage, "main.html");
}

TEST_F(BundleTest, UnusableBundlesGiveAMessage) {
  EXPECT_NE(errorFor(root / "absent").find("not found"), std::string::npos);
  EXPECT_NE(errorFor(makeBundle("NoPlist", std::nullopt)).find("no Info.plist"), std::string::npos);
  EXPECT_NE(errorFor(makeBundle("NotAPlist", "just some text")).find("is not a property list: line 1"),
            std::string::npos);
  EXPECT_NE(errorFor(makeBundle("EmptyPlist", "")).find("not a property list"), std::string::npos);
  EXPECT_NE(errorFor(makeBundle("Array", "<plist version=\"1.0\"><array/></plist>"))
                .find("not a dictionary"),
            std::string::npos);
  EXPECT_NE(errorFor(makeBundle("NoWebapp", dictPlist(""), false)).find("no webapp folder"),
            std::string::npos);
}

// Home folders

// Sets an environment variable for one test and puts the old value back.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedVariable() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

using HomeFoldersTest = TempFolderTest;

TEST_F(HomeFoldersTest, ChoosesTheOverrideThenXdgDataHomeThenHome) {
  ScopedVariable homeVariable("HOME", "/users/ana");
  {
    ScopedVariable xdg("XDG_DATA_HOME", "/data/ana");
    EXPECT_EQ(platform::homeFoldersFor("com.example", root / "mine").home, root / "mine");
    EXPECT_EQ(platform::homeFoldersFor("com.example", std::nullopt).home,
              fs::path("/data/ana/tavero/com.example"));
  }
  ScopedVariable relative("XDG_DATA_HOME", "relative/data");
  EXPECT_EQ(platform::homeFoldersFor("com.example", std::nullopt).home,
            fs::path("/users/ana/.local/share/tavero/com.example"));
}

TEST_F(HomeFoldersTest, IdentifiersThatWouldLeaveTheFolderAreSanitised) {
  ScopedVariable xdg("XDG_DATA_HOME", "/data");
  EXPECT_EQ(platform::homeFoldersFor("../evil/x", std::nullopt).home,
            fs::path("/data/tavero/.._evil_x"));
  EXPECT_EQ(platform::homeFoldersFor("..", std::nullopt).home, fs::path("/data/tavero/_.."));
  EXPECT_EQ(platform::homeFoldersFor(".", std::nullopt).home, fs::path("/data/tavero/_."));
  EXPECT_EQ(platform::homeFoldersFor("", std::nullopt).home, fs::path("/data/tavero/_"));
}

TEST_F(HomeFoldersTest, CreateHomeFoldersMakesEveryFolder) {
  EXPECT_EQ(platform::createHomeFolders(home), std::nullopt);
  for (const fs::path& folder : {home.documents(), home.applicationSupport(), home.caches(),
                                 home.preferences(), home.localStorageFolder()}) {
    EXPECT_TRUE(fs::is_directory(folder)) << folder;
  }

  HomeFolders blocked{root / "blocked"};
  writeFile(blocked.library(), "a file where a folder belongs");
  auto message = platform::createHomeFolders(blocked);
  ASSERT_TRUE(message.has_value());
  EXPECT_NE(message->find("Library"), std::string::npos);
}

}  // namespace
}  // namespace tavero::host
