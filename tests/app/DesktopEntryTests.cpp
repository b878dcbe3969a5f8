#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/DesktopCommands.h"
#include "app/DesktopEntry.h"
#include "platform/linux/PlistBundleReader.h"

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
  std::ifstream cache(applications / "mimeinfo.cache");
  std::string cached((std::istreambuf_iterator<char>(cache)), std::istreambuf_iterator<char>());
  EXPECT_EQ(cached.find("tavero-org.example.notes"), std::string::npos) << cached;
  EXPECT_NE(cached.find("text/plain=editor.desktop;"), std::string::npos) << cached;
}

TEST_F(DesktopEntryTest, TheCommandsExplainWhatTheyDidAndRefuseBadInput) {
  auto notes = bundle("notes", "<key>CFBundleURLTypes</key><array><dict><key>CFBundleURLSchemes</key>"
                               "<array><string>notes</string><string>mailto</string></array></dict></array>");
  DesktopPlaces places{.applications = root_ / "apps", .runningShells = root_ / "running",
                       .taveroBinary = "/usr/bin/tavero"};
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

}  // namespace
}  // namespace tavero::app
