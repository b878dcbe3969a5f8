#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "host/TQLocalStoreageFix.h"
#include "log/Log.h"
#include "platform/HomeFolders.h"
#include "platform/linux/PlistBundleReader.h"

namespace tavero::host {
namespace {

namespace fs = std::filesystem;
using platform::HomeFolders;

void writeFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> namesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// A fresh folder per test, with the log captured.
class TempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tavero-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root = pattern;
    home = HomeFolders{root / "home"};
    log::setSink([this](log::Level, std::string_view line) { logged.emplace_back(line); });
  }
  void TearDown() override {
    log::setSink({});
    fs::remove_all(root);
  }
  bool loggedLineContaining(std::string_view text) const {
    return std::any_of(logged.begin(), logged.end(),
                       [&](const std::string& line) { return line.find(text) != line.npos; });
  }

  fs::path root;
  HomeFolders home;
  std::vector<std::string> logged;
};

// A connection for setting up and reading databases the way the web view does.
class Database {
 public:
  explicit Database(const fs::path& file) { sqlite3_open(file.c_str(), &db_); }
  ~Database() { sqlite3_close(db_); }
  void exec(const std::string& sql) {
    ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db_) << " in " << sql;
  }
  // The value stored under `key`, or nothing (also when there is no table).
  std::optional<std::string> value(const std::string& key) {
    sqlite3_stmt* statement = nullptr;
    std::optional<std::string> result;
    if (sqlite3_prepare_v2(db_, "SELECT value FROM ItemTable WHERE key = ?", -1, &statement,
                           nullptr) != SQLITE_OK) {
      return result;
    }
    sqlite3_bind_text(statement, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(statement) == SQLITE_ROW) {
      result = std::string(static_cast<const char*>(sqlite3_column_blob(statement, 0)),
                           sqlite3_column_bytes(statement, 0));
    }
    sqlite3_finalize(statement);
    return result;
  }

 private:
  sqlite3* db_ = nullptr;
};

const char* const createItemTable =
    "CREATE TABLE ItemTable (key TEXT UNIQUE ON CONFLICT REPLACE PRIMARY KEY NOT NULL, "
    "value BLOB NOT NULL)";

// A live database like the web view leaves it: the table checkpointed into
// the main file, `key` = `value` only in the WAL, held there by `writer`.
void makeLiveDatabaseWithRowInWal(Database& writer, const std::string& key,
                                  const std::string& value) {
  writer.exec("PRAGMA journal_mode=WAL");
  writer.exec(createItemTable);
  writer.exec("PRAGMA wal_checkpoint(TRUNCATE)");
  writer.exec("PRAGMA wal_autocheckpoint=0");
  writer.exec("INSERT INTO ItemTable VALUES ('" + key + "', CAST('" + value + "' AS BLOB))");
}

using LocalStorageTest = TempFolderTest;

TEST_F(LocalStorageTest, WithoutABackupRestoreLeavesTheLiveStorageAlone) {
  fs::path live = TQLocalStoreageFix::liveDatabasePath(home);
  writeFile(live, "live");
  writeFile(live.string() + "-wal", "wal");
  TQLocalStoreageFix::restoreLocalStorage(home);
  EXPECT_EQ(readFile(live), "live");
  EXPECT_EQ(readFile(live.string() + "-wal"), "wal");
}

TEST_F(LocalStorageTest, RestoreReplacesTheLiveFileAndItsStaleJournals) {
  writeFile(TQLocalStoreageFix::backupPath(home), "backup");
  fs::path live = TQLocalStoreageFix::liveDatabasePath(home);

  // No live folder yet: it is created with its parents.
  TQLocalStoreageFix::restoreLocalStorage(home);
  EXPECT_EQ(readFile(live), "backup");

  // A newer live file and the journals beside it are dropped, not merged.
  writeFile(live, "newer live data");
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    writeFile(live.string() + suffix, "stale");
  }
  TQLocalStoreageFix::restoreLocalStorage(home);
  EXPECT_EQ(readFile(live), "backup");
  EXPECT_EQ(namesIn(home.localStorageFolder()), std::vector<std::string>{"file__0.localstorage"});
  EXPECT_EQ(readFile(TQLocalStoreageFix::backupPath(home)), "backup");
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
  EXPECT_NE(errorFor(makeBundle("NotAPlist", "just some text")).find("not a property list"),
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
