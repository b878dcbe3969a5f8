// What goes from a bundle folder into its package: the files walked and
// refused, the tree written for dpkg-deb, and the whole command.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "app/BundleFileTree.h"
#include "app/DebianPackageTree.h"
#include "app/PackageCommand.h"

namespace fs = std::filesystem;
using namespace tavero::app;

namespace {

class PackageFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tavero-package-tests-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    bundle_ = root_ / "My \"App\" 'x'";
    fs::create_directories(bundle_ / "webapp" / "img");
    write("Info.plist", plist(""));
    write("webapp/index.html", "<html></html>");
    write("webapp/img/a b.png", "png");
    write("README.md", "for developers");
  }
  void TearDown() override { fs::remove_all(root_); }

  void write(const fs::path& relative, const std::string& text) {
    fs::create_directories((bundle_ / relative).parent_path());
    std::ofstream(bundle_ / relative, std::ios::binary) << text;
  }

  static std::string plist(const std::string& extraKeys) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>org.example.notes</string>"
           "<key>CFBundleDisplayName</key><string>Notes</string>"
           "<key>CFBundleVersion</key><string>1.0</string>"
           "<key>CFBundleURLTypes</key><array><dict><key>CFBundleURLSchemes</key>"
           "<array><string>notes</string><string>http</string></array></dict></array>" +
           extraKeys + "</dict></plist>";
  }

  std::string treeProblem() {
    auto tree = bundleFileTree(bundle_);
    auto* problem = std::get_if<std::string>(&tree);
    return problem ? *problem : "";
  }

  std::vector<std::string> treePaths() {
    auto tree = bundleFileTree(bundle_);
    std::vector<std::string> paths;
    if (auto* files = std::get_if<std::vector<BundleFile>>(&tree))
      for (const auto& file : *files) paths.push_back(file.relative.string());
    return paths;
  }

  fs::path root_;
  fs::path bundle_;
};

int runPackageCommand(const std::vector<std::string>& args, std::string& out, std::string& err) {
  std::ostringstream outStream, errStream;
  int status = runPackage(args, outStream, errStream);
  out = outStream.str();
  err = errStream.str();
  return status;
}

std::string readAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST_F(PackageFolder, LeavesOutVersionControlAndEditorFiles) {
  write(".git/config", "[core]");
  write("webapp/.app.js.swp", "swap");
  write("webapp/app.js~", "backup");
  write("webapp/#app.js#", "emacs");
  write("webapp/.DS_Store", "mac");
  write("webapp/app.js", "ok");
  auto paths = treePaths();
  EXPECT_EQ(paths, (std::vector<std::string>{"Info.plist", "README.md", "webapp", "webapp/app.js", "webapp/img",
                                             "webapp/img/a b.png", "webapp/index.html"}));
}

TEST_F(PackageFolder, RefusesLinksOutOfTheBundleNamingThem) {
  std::ofstream(root_ / "outside.txt") << "secret";
  fs::create_symlink("../../../outside.txt", bundle_ / "webapp" / "img" / "escape");
  EXPECT_NE(treeProblem().find("\"webapp/img/escape\" points out of the bundle"), std::string::npos) << treeProblem();
  fs::remove(bundle_ / "webapp" / "img" / "escape");

  fs::create_symlink("img/../../../outside.txt", bundle_ / "webapp" / "sneaky");
  EXPECT_NE(treeProblem().find("webapp/sneaky"), std::string::npos) << treeProblem();
  fs::remove(bundle_ / "webapp" / "sneaky");

  fs::create_symlink("/etc/passwd", bundle_ / "webapp" / "absolute");
  EXPECT_NE(treeProblem().find("\"webapp/absolute\" is absolute"), std::string::npos) << treeProblem();
  fs::remove(bundle_ / "webapp" / "absolute");

  fs::create_symlink("missing.js", bundle_ / "webapp" / "dangling");
  EXPECT_NE(treeProblem().find("points to nothing"), std::string::npos) << treeProblem();
  fs::remove(bundle_ / "webapp" / "dangling");

  write(".git/config", "[remote] url = secret");
  fs::create_symlink("../.git/config", bundle_ / "webapp" / "config");
  EXPECT_NE(treeProblem().find("points into .git"), std::string::npos) << treeProblem();
}

TEST_F(PackageFolder, KeepsLinksInsideAsRelativeLinks) {
  fs::create_symlink("img/a b.png", bundle_ / "webapp" / "logo.png");
  fs::create_symlink("../index.html", bundle_ / "webapp" / "img" / "home.html");
  auto tree = bundleFileTree(bundle_);
  ASSERT_TRUE(std::holds_alternative<std::vector<BundleFile>>(tree)) << std::get<std::string>(tree);
  int links = 0;
  for (const auto& file : std::get<std::vector<BundleFile>>(tree)) {
    if (file.kind != BundleFile::Kind::link) continue;
    ++links;
    EXPECT_FALSE(file.linkTarget.is_absolute());
    EXPECT_TRUE(fs::exists(bundle_ / file.relative.parent_path() / file.linkTarget)) << file.relative;
  }
  EXPECT_EQ(links, 2);

  // A link to a file the package leaves out would dangle once installed.
  fs::create_symlink("../README.md", bundle_ / "webapp" / "readme");
  auto packaged = filesForPackage(std::get<std::vector<BundleFile>>(bundleFileTree(bundle_)), "");
  ASSERT_TRUE(std::holds_alternative<std::string>(packaged));
  EXPECT_NE(std::get<std::string>(packaged).find("\"webapp/readme\" points to \"README.md\""), std::string::npos);
}

TEST_F(PackageFolder, RefusesSpecialFilesAndLineBreaksInNames) {
  ASSERT_EQ(::mkfifo((bundle_ / "webapp" / "pipe").c_str(), 0644), 0);
  EXPECT_NE(treeProblem().find("\"webapp/pipe\" is a fifo, socket or device"), std::string::npos) << treeProblem();
  fs::remove(bundle_ / "webapp" / "pipe");
  write("webapp/two\nlines.js", "x");
  EXPECT_NE(treeProblem().find("control character"), std::string::npos) << treeProblem();
}

TEST_F(PackageFolder, WritesTheTreeWithFixedModesAndTimes) {
  fs::create_symlink("img/a b.png", bundle_ / "webapp" / "logo.png");
  ::chmod((bundle_ / "webapp" / "index.html").c_str(), 0600);
  PackagePlan plan;
  plan.bundle.path = bundle_;
  plan.bundle.bundleIdentifier = "org.example.notes";
  plan.bundle.displayName = "Notes";
  plan.bundle.urlSchemes = {"notes", "http"};
  plan.files = std::get<std::vector<BundleFile>>(filesForPackage(std::get<std::vector<BundleFile>>(bundleFileTree(bundle_)), ""));
  plan.package = "org.example.notes";
  plan.version = "1.0-2";
  plan.maintainer = "Ana Lima <ana@example.org>";
  plan.summary = "Notes";
  plan.description = "Notes for Tavero.";
  plan.depends = "tavero (>= 0.1.0)";
  plan.date = 1780000000;
  fs::path stage = root_ / "stage";
  fs::create_directory(stage);
  ASSERT_EQ(writePackageTree(plan, stage), std::nullopt);

  fs::path app = stage / "usr/share/tavero/apps/org.example.notes";
  EXPECT_FALSE(fs::exists(app / "README.md"));
  EXPECT_EQ(fs::read_symlink(app / "webapp/logo.png"), "img/a b.png");
  struct stat info {};
  ASSERT_EQ(::stat((app / "webapp/index.html").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  EXPECT_EQ(info.st_mtime, 1780000000);
  ASSERT_EQ(::stat((app / "webapp/img").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
  ASSERT_EQ(::lstat((app / "webapp/logo.png").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, 1780000000);

  std::string entry = readAll(stage / "usr/share/applications/org.example.notes.desktop");
  EXPECT_NE(entry.find("\nExec=/usr/bin/tavero run /usr/share/tavero/apps/org.example.notes %u\n"), std::string::npos)
      << entry;
  EXPECT_NE(entry.find("\nMimeType=x-scheme-handler/notes;\n"), std::string::npos) << entry;
  EXPECT_EQ(entry.find(root_.string()), std::string::npos);
  EXPECT_EQ(readAll(stage / "usr/share/lintian/overrides/org.example.notes"),
            "org.example.notes: desktop-command-not-in-package usr/bin/tavero "
            "[usr/share/applications/org.example.notes.desktop]\n");
  // A revision: not a native package, so Debian's changelog name.
  EXPECT_TRUE(fs::exists(stage / "usr/share/doc/org.example.notes/changelog.Debian.gz"));
  std::string control = readAll(stage / "DEBIAN/control");
  EXPECT_NE(control.find("Version: 1.0-2\n"), std::string::npos);
  EXPECT_NE(control.find("Installed-Size: "), std::string::npos);
  std::string sums = readAll(stage / "DEBIAN/md5sums");
  EXPECT_NE(sums.find("  usr/share/tavero/apps/org.example.notes/webapp/img/a b.png\n"), std::string::npos) << sums;
  EXPECT_EQ(sums.find("logo.png"), std::string::npos);  // links have no sums
}

TEST_F(PackageFolder, CommandNamesTheKeyAndOptionThatAreMissing) {
  std::string out, err;
  EXPECT_EQ(runPackageCommand({bundle_.string(), "--deb"}, out, err), 2);
  EXPECT_NE(err.find("TaveroPackageMaintainer"), std::string::npos) << err;
  EXPECT_NE(err.find("--maintainer"), std::string::npos) << err;
  EXPECT_EQ(runPackageCommand({bundle_.string(), "--deb", "--maintainer", "Ana"}, out, err), 2);
  EXPECT_NE(err.find("--maintainer \"Ana\""), std::string::npos) << err;
  EXPECT_EQ(runPackageCommand({bundle_.string()}, out, err), 2);  // --deb is the only kind
  EXPECT_NE(err.find("usage:"), std::string::npos);

  write("Info.plist", plist("<key>TaveroPackageMaintainer</key><string>Ana &lt;a@example.org&gt;</string>"
                            "<key>CFBundleIconFile</key><string>icon.gif</string>"));
  write("icon.gif", "GIF89a....");
  EXPECT_EQ(runPackageCommand({bundle_.string(), "--deb"}, out, err), 2);
  EXPECT_NE(err.find("CFBundleIconFile \"icon.gif\" is not a PNG image"), std::string::npos) << err;
  std::string withEpoch = plist("<key>TaveroPackageMaintainer</key><string>Ana &lt;a@example.org&gt;</string>");
  withEpoch.replace(withEpoch.find("<string>1.0</string>"), 20, "<string>1:1.0</string>");
  write("Info.plist", withEpoch);
  EXPECT_EQ(runPackageCommand({bundle_.string(), "--deb"}, out, err), 2);
  EXPECT_NE(err.find("CFBundleVersion \"1:1.0\""), std::string::npos) << err;
  EXPECT_EQ(runPackageCommand({bundle_.string(), "--deb", "--name", "my_app"}, out, err), 2);
  EXPECT_NE(err.find("--name \"my_app\""), std::string::npos) << err;
  EXPECT_FALSE(fs::exists("org.example.notes_1.0_all.deb"));  // nothing made when refused
}

TEST_F(PackageFolder, SameBundleAndDateGiveTheSameBytes) {
  if (::access("/usr/bin/dpkg-deb", X_OK) != 0) GTEST_SKIP() << "dpkg-deb is not installed";
  write("Info.plist", plist("<key>TaveroPackageMaintainer</key><string>Ana &lt;a@example.org&gt;</string>"));
  ::setenv("SOURCE_DATE_EPOCH", "1780000000", 1);
  std::string out, err;
  ASSERT_EQ(runPackageCommand({bundle_.string(), "--deb", "--output", (root_ / "one").string()}, out, err), 0) << err;
  fs::path first = out.substr(0, out.size() - 1);
  EXPECT_EQ(first, root_ / "one" / "org.example.notes_1.0_all.deb");
  fs::last_write_time(bundle_ / "webapp" / "index.html", fs::file_time_type::clock::now());
  ASSERT_EQ(runPackageCommand({bundle_.string(), "--deb", "--output", (root_ / "two").string()}, out, err), 0) << err;
  ::unsetenv("SOURCE_DATE_EPOCH");
  EXPECT_EQ(readAll(first), readAll(out.substr(0, out.size() - 1)));
  EXPECT_NE(err.find("http: URLs belong to the desktop"), std::string::npos) << err;
}
