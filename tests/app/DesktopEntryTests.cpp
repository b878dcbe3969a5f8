#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "app/DesktopCommands.h"
#include "app/DesktopEntry.h"
#include "base/FileRead.h"
#include "platform/linux/PlistBundleReader.h"
#include "support/ChildProcess.h"

extern char** environ;

namespace tavero::app {
namespace {

namespace fs = std::filesystem;

// The arguments of an Exec value as the desktop reads them: the string
// escapes first, then the quoting, then "%%".
std::vector<std::string> execArguments(const std::string& entryText) {
  std::istringstream lines(entryText);
  std::string value;
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with("Exec=")) value = line.substr(5);
  std::string unescaped;
  for (size_t i = 0; i < value.size(); ++i) unescaped += value[i] == '\\' && i + 1 < value.size() ? value[++i] : value[i];
  std::vector<std::string> arguments;
  std::string current;
  bool quoted = false, any = false;
  for (size_t i = 0; i < unescaped.size(); ++i) {
    char c = unescaped[i];
    if (quoted && c == '\\' && i + 1 < unescaped.size()) {
      current += unescaped[++i];
    } else if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any || !current.empty()) arguments.push_back(current);
      current.clear();
      any = false;
    } else if (c == '%' && i + 1 < unescaped.size() && unescaped[i + 1] == '%') {
      current += '%';
      ++i;
    } else {
      current += c;
    }
  }
  if (any || !current.empty()) arguments.push_back(current);
  return arguments;
}

// Answers "who else opens this scheme" from a table, and records what the
// app said its own entry was.
class TableSchemeHandlers : public platform::SchemeHandlers {
 public:
  explicit TableSchemeHandlers(std::map<std::string, std::vector<std::string>> table = {}) : table_(std::move(table)) {}
  std::vector<std::string> handlersOf(const std::string& scheme, const std::string& ownEntry) override {
    asked.push_back(scheme);
    ownEntries.push_back(ownEntry);
    auto it = table_.find(scheme);
    return it == table_.end() ? std::vector<std::string>{} : it->second;
  }
  std::vector<std::string> asked;
  std::vector<std::string> ownEntries;

 private:
  std::map<std::string, std::vector<std::string>> table_;
};

// Sets environment variables for the scope (for the programs a test
// starts), and puts the old values back.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(std::map<std::string, std::string> values) {
    for (const auto& [name, value] : values) {
      const char* old = std::getenv(name.c_str());
      old_.emplace(name, old ? std::optional<std::string>(old) : std::nullopt);
      ::setenv(name.c_str(), value.c_str(), 1);
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : old_) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> old_;
};

std::vector<std::string> keys(const std::string& entryText) {
  std::vector<std::string> found;
  std::istringstream lines(entryText);
  for (std::string line; std::getline(lines, line);) found.push_back(line.substr(0, line.find('=')));
  return found;
}

class DesktopEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tavero-desktop-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  // A bundle in `folderName` whose Info.plist has `extraKeys`.
  platform::BundleInfo bundle(const std::string& folderName, const std::string& extraKeys) {
    fs::path folder = root_ / folderName;
    fs::create_directories(folder / "webapp");
    std::ofstream(folder / "Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>org.example.notes</string>"
        << extraKeys << "</dict></plist>\n";
    auto read = platform::readBundle(folder);
    EXPECT_TRUE(std::holds_alternative<platform::BundleInfo>(read)) << std::get<std::string>(read);
    return std::get<platform::BundleInfo>(read);
  }

  fs::path root_;
};

TEST_F(DesktopEntryTest, HostileNamesPathsAndSchemesCannotAddKeysOrBreakTheCommand) {
  auto notes = bundle("My \"Notes\" $HOME `id` 100% \\ app",
                      "<key>CFBundleDisplayName</key><string>Notes\nExec=rm -rf ~</string>"
                      "<key>CFBundleURLTypes</key><array><dict><key>CFBundleURLSchemes</key><array>"
                      "<string>MyApp</string><string>my-app.v2</string><string>http</string>"
                      "<string>evil\nMimeType=text/html</string><string>1abc</string><string>myapp</string>"
                      "</array></dict></array>");
  EXPECT_EQ(notes.urlSchemes, (std::vector<std::string>{"myapp", "my-app.v2", "http"}));

  auto made = desktopEntryFor(notes, "/opt/tavero bin/tavero");
  ASSERT_TRUE(std::holds_alternative<DesktopEntry>(made));
  const DesktopEntry& entry = std::get<DesktopEntry>(made);
  EXPECT_EQ(entry.fileName, "tavero-org.example.notes.desktop");
  EXPECT_EQ(entry.schemes, (std::vector<std::string>{"myapp", "my-app.v2"}));
  EXPECT_EQ(entry.refusedSchemes, (std::vector<std::string>{"http"}));
  EXPECT_EQ(keys(entry.text), (std::vector<std::string>{"[Desktop Entry]", "Type", "Version", "Name", "Exec",
                                                        "Terminal", "MimeType", "X-Tavero-Bundle",
                                                        "X-Tavero-BundleIdentifier"}))
      << entry.text;
  EXPECT_NE(entry.text.find("Name=Notes Exec=rm -rf ~\n"), std::string::npos) << entry.text;
  EXPECT_NE(entry.text.find("MimeType=x-scheme-handler/myapp;x-scheme-handler/my-app.v2;\n"), std::string::npos);
  EXPECT_EQ(execArguments(entry.text),
            (std::vector<std::string>{"/opt/tavero bin/tavero", "run", notes.path.string(), "%u"}));

  platform::BundleInfo lineBreak = notes;
  lineBreak.path = root_ / "a\nb";
  EXPECT_TRUE(std::holds_alternative<std::string>(desktopEntryFor(lineBreak, "/usr/bin/tavero")));
}

TEST_F(DesktopEntryTest, AnIconIsUsedOnlyWhenItIsAFileInsideTheBundle) {
  auto withIcon = bundle("with-icon", "<key>CFBundleIconFile</key><string>icon.png</string>");
  std::ofstream(withIcon.path / "icon.png") << "png";
  auto entry = std::get<DesktopEntry>(desktopEntryFor(withIcon, "/usr/bin/tavero"));
  EXPECT_NE(entry.text.find("Icon=" + fs::canonical(withIcon.path / "icon.png").string() + "\n"), std::string::npos);

  std::ofstream(root_ / "outside.png") << "png";
  fs::create_symlink(root_ / "outside.png", withIcon.path / "link.png");
  for (const char* icon : {"../outside.png", "link.png", "missing.png"}) {
    withIcon.iconFile = icon;
    EXPECT_EQ(std::get<DesktopEntry>(desktopEntryFor(withIcon, "/usr/bin/tavero")).text.find("Icon="),
              std::string::npos)
        << icon;
  }
}

TEST_F(DesktopEntryTest, InstallRegistersTheSchemesAndUninstallTakesThemBack) {
  auto notes = bundle("notes", "<key>CFBundleURLTypes</key><array><dict><key>CFBundleURLSchemes</key>"
                               "<array><string>notes</string></array></dict></array>");
  fs::path applications = root_ / "data" / "applications";
  fs::create_directories(applications);
  std::ofstream(applications / "mimeinfo.cache")
      << "[MIME Cache]\nx-scheme-handler/notes=other.desktop;\ntext/plain=editor.desktop;\n";
  // Another application's entry, which the cache keeps whether install
  // edits it or update-desktop-database (desktop-file-utils) rebuilds it.
  std::ofstream(applications / "editor.desktop")
      << "[Desktop Entry]\nType=Application\nName=Editor\nExec=/bin/true %f\nMimeType=text/plain;\n";
  // The desktop ignores entries whose program does not exist: the real one.
  ASSERT_TRUE(std::holds_alternative<DesktopEntry>(installDesktopEntry(notes, applications, TAVERO_BINARY)));
  ASSERT_TRUE(std::holds_alternative<DesktopEntry>(installDesktopEntry(notes, applications, TAVERO_BINARY)));

  auto installed = installedApps(applications);
  ASSERT_EQ(installed.size(), 1u);
  EXPECT_EQ(installed[0].bundle, notes.path);
  EXPECT_EQ(installed[0].bundleIdentifier, "org.example.notes");
  EXPECT_EQ(installed[0].schemes, (std::vector<std::string>{"notes"}));

  // The desktop's own lookup (GIO, as xdg-open uses it) finds the app.
  if (fs::exists("/usr/bin/gio")) {
    std::string dataHome = "XDG_DATA_HOME=" + (root_ / "data").string();
    std::string configHome = "XDG_CONFIG_HOME=" + (root_ / "config").string();
    std::string home = "HOME=" + root_.string();
    const char* env[] = {dataHome.c_str(), configHome.c_str(), home.c_str(), "XDG_DATA_DIRS=/nonexistent",
                         "LANG=C.UTF-8", nullptr};
    const char* argv[] = {"/usr/bin/gio", "mime", "x-scheme-handler/notes", nullptr};
    int outPipe[2];
    ASSERT_EQ(::pipe(outPipe), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), const_cast<char**>(env)), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    std::string out;
    char chunk[512];
    for (ssize_t n; (n = ::read(outPipe[0], chunk, sizeof chunk)) > 0;) out.append(chunk, static_cast<size_t>(n));
    ::close(outPipe[0]);
    ::waitpid(pid, nullptr, 0);
    EXPECT_NE(out.find("Default application for \xE2\x80\x9Cx-scheme-handler/notes\xE2\x80\x9D: tavero-org.example.notes.desktop"),
              std::string::npos)
        << out;
  }

  EXPECT_TRUE(uninstallDesktopEntry("org.example.notes", applications));
  EXPECT_FALSE(uninstallDesktopEntry("org.example.notes", applications));
  EXPECT_TRUE(installedApps(applications).empty());
  std::string cached = base::readFileText(applications / "mimeinfo.cache").value_or("");
  EXPECT_EQ(cached.find("tavero-org.example.notes"), std::string::npos) << cached;
  EXPECT_NE(cached.find("text/plain=editor.desktop;"), std::string::npos) << cached;
}

TEST_F(DesktopEntryTest, TheCommandsExplainWhatTheyDidAndRefuseBadInput) {
  auto notes = bundle("notes", "<key>CFBundleURLTypes</key><array><dict><key>CFBundleURLSchemes</key>"
                               "<array><string>notes</string><string>mailto</string></array></dict></array>");
  TableSchemeHandlers nobodyElse;
  DesktopPlaces places{.applications = root_ / "apps", .runningShells = root_ / "running",
                       .taveroBinary = "/usr/bin/tavero", .schemeHandlers = &nobodyElse};
  std::ostringstream out, err;
  EXPECT_EQ(runInstall({notes.path.string()}, places, out, err), 0) << err.str();
  EXPECT_NE(out.str().find("it opens notes: URLs"), std::string::npos) << out.str();
  EXPECT_NE(err.str().find("mailto:"), std::string::npos) << err.str();
  EXPECT_EQ(runInstall({(root_ / "nothing").string()}, places, out, err), 2);
  EXPECT_EQ(runUninstall({"org.example.notes"}, places, out, err), 0);
  EXPECT_EQ(runUninstall({"org.example.notes"}, places, out, err), 1);

  EXPECT_EQ(runOpenURL({"not a url"}, places, out, err), 2);
  EXPECT_EQ(runOpenURL({"notes://x"}, places, out, err), 1);  // nothing installed or running
  EXPECT_NE(err.str().find("no app opens notes: URLs"), std::string::npos) << err.str();
  EXPECT_EQ(urlScheme("MyApp+x.y-z://a"), "myapp+x.y-z");
  EXPECT_EQ(urlScheme("://a"), "");
  EXPECT_EQ(urlScheme("a b://c"), "");
}

TEST_F(DesktopEntryTest, InstallLeavesSchemesOtherApplicationsOpenUnlessTold) {
  auto notes = bundle("notes", "<key>CFBundleURLTypes</key><array><dict><key>CFBundleURLSchemes</key>"
                               "<array><string>notes</string><string>slack</string><string>mailto</string>"
                               "</array></dict></array>");
  TableSchemeHandlers desktop({{"slack", {"com.slack.Slack.desktop", "chat.desktop"}}});
  DesktopPlaces places{.applications = root_ / "apps", .runningShells = root_ / "running",
                       .taveroBinary = "/usr/bin/tavero", .schemeHandlers = &desktop};
  std::ostringstream out, err;
  ASSERT_EQ(runInstall({notes.path.string()}, places, out, err), 0) << err.str();
  EXPECT_EQ(installedApps(places.applications).at(0).schemes, (std::vector<std::string>{"notes"}));
  EXPECT_NE(err.str().find("not registered: slack: URLs open in com.slack.Slack.desktop, chat.desktop"),
            std::string::npos)
      << err.str();
  EXPECT_NE(err.str().find("--take-schemes"), std::string::npos) << err.str();
  // The desktop's own schemes are refused without asking; the app's own
  // earlier entry does not count as another application.
  EXPECT_EQ(desktop.asked, (std::vector<std::string>{"notes", "slack"}));
  EXPECT_EQ(desktop.ownEntries.at(0), "tavero-org.example.notes.desktop");

  std::ostringstream takenOut, takenErr;
  ASSERT_EQ(runInstall({"--take-schemes", notes.path.string()}, places, takenOut, takenErr), 0) << takenErr.str();
  EXPECT_EQ(installedApps(places.applications).at(0).schemes, (std::vector<std::string>{"notes", "slack"}));
  EXPECT_NE(takenOut.str().find("taking slack: URLs from com.slack.Slack.desktop"), std::string::npos)
      << takenOut.str();
  EXPECT_NE(takenErr.str().find("mailto:"), std::string::npos) << takenErr.str();  // still never taken

  std::ostringstream helpOut, ignored;
  EXPECT_EQ(runInstall({"--help"}, places, helpOut, ignored), 0);
  EXPECT_NE(helpOut.str().find("--take-schemes"), std::string::npos) << helpOut.str();
  EXPECT_EQ(runInstall({"--take-schemes"}, places, out, ignored), 2);
  EXPECT_EQ(runInstall({notes.path.string(), "--force"}, places, out, ignored), 2);
  places.schemeHandlers = nullptr;
  EXPECT_EQ(runInstall({notes.path.string()}, places, out, ignored), 1);
}

// The real lookup, as the desktop makes it: a chat program installed in the
// system's applications opens slack:, the user's mimeapps.list makes a
// meeting program the default for zoommtg:. The tavero binary runs with private
// XDG folders holding only those.
TEST_F(DesktopEntryTest, InstallAsksTheDesktopWhoOpensEachScheme) {
  auto notes = bundle("notes", "<key>CFBundleURLTypes</key><array><dict><key>CFBundleURLSchemes</key>"
                               "<array><string>notes</string><string>slack</string><string>zoommtg</string>"
                               "</array></dict></array>");
  fs::create_directories(root_ / "system" / "applications");
  fs::create_directories(root_ / "data" / "applications");
  fs::create_directories(root_ / "config");
  std::ofstream(root_ / "system" / "applications" / "chat.desktop")
      << "[Desktop Entry]\nType=Application\nName=Chat\nExec=/bin/true %u\nMimeType=x-scheme-handler/slack;\n";
  // The desktop finds what an application opens in the folder's cache, which
  // update-desktop-database writes when a package is installed.
  std::ofstream(root_ / "system" / "applications" / "mimeinfo.cache")
      << "[MIME Cache]\nx-scheme-handler/slack=chat.desktop;\n";
  std::ofstream(root_ / "data" / "applications" / "meeting.desktop")
      << "[Desktop Entry]\nType=Application\nName=Meeting\nExec=/bin/true %u\n";
  std::ofstream(root_ / "config" / "mimeapps.list")
      << "[Default Applications]\nx-scheme-handler/zoommtg=meeting.desktop\n";
  ScopedEnvironment environment({{"HOME", root_.string()},
                                 {"XDG_DATA_HOME", (root_ / "data").string()},
                                 {"XDG_CONFIG_HOME", (root_ / "config").string()},
                                 {"XDG_DATA_DIRS", (root_ / "system").string()},
                                 {"XDG_CONFIG_DIRS", (root_ / "system-config").string()},
                                 {"XDG_CURRENT_DESKTOP", ""}});
  const fs::path entry = root_ / "data" / "applications" / "tavero-org.example.notes.desktop";

  for (int time = 0; time < 2; ++time) {  // the second time the app's own entry claims notes:
    tavero::testing::ChildProcess install({TAVERO_BINARY, "install", notes.path.string()});
    ASSERT_EQ(install.wait(), 0) << install.allLines();
    install.readToEnd();
    EXPECT_TRUE(install.saidSomethingContaining("slack: URLs open in chat.desktop")) << install.allLines();
    EXPECT_TRUE(install.saidSomethingContaining("zoommtg: URLs open in meeting.desktop")) << install.allLines();
    auto installed = installedApps(entry.parent_path());
    ASSERT_EQ(installed.size(), 1u);
    EXPECT_EQ(installed[0].schemes, (std::vector<std::string>{"notes"}));
  }

  tavero::testing::ChildProcess take({TAVERO_BINARY, "install", "--take-schemes", notes.path.string()});
  ASSERT_EQ(take.wait(), 0) << take.allLines();
  EXPECT_EQ(installedApps(entry.parent_path()).at(0).schemes, (std::vector<std::string>{"notes", "slack", "zoommtg"}));
}

}  // namespace
}  // namespace tavero::app
