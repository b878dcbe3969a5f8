#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "json/JsonCodec.h"
#include "platform/FileURL.h"
#include "platform/linux/ContentRules.h"
#include "platform/linux/DownloadRules.h"
#include "platform/linux/FileURLCheck.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;

class FileURLRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tavero-url-rules-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    app_ = root_ / "webapp";
    fs::create_directories(app_ / "pages");
    fs::create_directories(root_ / "elsewhere");
    std::ofstream(app_ / "index.html") << "app";
    std::ofstream(root_ / "elsewhere" / "secret.html") << "secret";
    fs::create_symlink(root_ / "elsewhere" / "secret.html", app_ / "link.html");
    fs::create_symlink(root_ / "elsewhere", app_ / "folder-link");
  }
  void TearDown() override { fs::remove_all(root_); }

  bool inside(const std::string& url) { return fileURLIsInside(url, {app_}); }
  std::string appURL() { return fileURLForPath(app_); }

  fs::path root_;
  fs::path app_;
};

TEST_F(FileURLRulesTest, AFileURLIsTheAppsOnlyWhenTheFileTheLoaderOpensIsInItsFolders) {
  EXPECT_TRUE(inside(appURL() + "/index.html"));
  EXPECT_TRUE(inside(appURL() + "/index.html?page=2#top"));
  EXPECT_TRUE(inside(appURL() + "/pages/../index.html"));
  EXPECT_TRUE(inside(appURL() + "/not-yet-made.html"));
  EXPECT_TRUE(inside(appURL() + "//index.html"));
  // Escapes the loader would decode into separators or dots.
  EXPECT_FALSE(inside(appURL() + "/..%2F..%2Fetc%2Fhostname"));
  EXPECT_FALSE(inside(appURL() + "/pages%2F..%2Findex.html"));
  EXPECT_FALSE(inside(appURL() + "/%2e%2e/elsewhere/secret.html"));
  EXPECT_FALSE(inside(appURL() + "/index.html%00.png"));
  // Links lead where they point.
  EXPECT_FALSE(inside(appURL() + "/link.html"));
  EXPECT_FALSE(inside(appURL() + "/folder-link/secret.html"));
  // A folder whose name begins like the app's is another folder.
  EXPECT_FALSE(inside(appURL() + "-evil/index.html"));
  EXPECT_FALSE(inside("file:///etc/hostname"));
  EXPECT_FALSE(inside("http://example.invalid/index.html"));
  EXPECT_FALSE(inside("not a url"));
}

TEST(ContentRulesTest, TheRulesReadBackAsJSONToEachFilterInOrder) {
  const std::string blocked = "app://x/\"q\"\\z\n";  // a quote, a backslash, a line feed
  auto rules = json::JsonCodec::arrayWithJSONString(contentRulesJSON({"/srv/web app"}, {blocked}));
  ASSERT_TRUE(rules);
  ASSERT_EQ(rules->size(), 7u);
  struct Rule {
    std::string filter, action;
    bool caseSensitive;
  };
  auto ruleAt = [&](size_t i) {
    const json::Object& rule = (*rules)[i].asObject();
    const json::Object& trigger = rule.find("trigger")->asObject();
    const json::Value* caseSensitive = trigger.find("url-filter-is-case-sensitive");
    return Rule{trigger.find("url-filter")->asString(), rule.find("action")->asObject().find("type")->asString(),
                caseSensitive && caseSensitive->asBool()};
  };
  auto expect = [&](size_t i, const std::string& filter, const std::string& action, bool caseSensitive) {
    Rule rule = ruleAt(i);
    EXPECT_EQ(rule.filter, filter) << i;
    EXPECT_EQ(rule.action, action) << i;
    EXPECT_EQ(rule.caseSensitive, caseSensitive) << i;
  };
  expect(0, "^file:", "block", false);
  expect(1, urlPrefixPattern(fileURLForPath("/srv/web app") + "/"), "ignore-previous-rules", true);
  expect(2, urlPrefixPattern(blocked), "block", false);
  expect(3, "^file:.*%2f", "block", false);
  expect(6, "^file:.*%00", "block", false);
}

TEST_F(FileURLRulesTest, DownloadsGoAheadOnlyWhenAllowedAndMadeByTheAppsOwnDocuments) {
  const DownloadRules off{.allowed = false, .readableFolders = {app_}};
  EXPECT_TRUE(downloadRefusal("blob:file:///5f7a", off));
  const DownloadRules on{.allowed = true, .readableFolders = {app_}};
  EXPECT_FALSE(downloadRefusal("blob:file:///5f7a", on));
  EXPECT_FALSE(downloadRefusal(appURL() + "/index.html", on));
  for (const std::string& url : {std::string("blob:http://127.0.0.1:8000/5f7a"), std::string("blob:null/5f7a"),
                                 std::string("data:text/plain,hi"), std::string("https://example.invalid/a.pdf"),
                                 appURL() + "/link.html", appURL() + "/..%2F..%2Fetc%2Fpasswd", std::string("")})
    EXPECT_TRUE(downloadRefusal(url, on)) << url;
}

TEST_F(FileURLRulesTest, ADownloadTakesANameNoFileHasAndKeepsToItsFolder) {
  const fs::path downloads = root_ / "Downloads";
  auto first = reserveDownloadFile(downloads, "report.txt");
  ASSERT_TRUE(std::holds_alternative<fs::path>(first));
  EXPECT_EQ(std::get<fs::path>(first), downloads / "report.txt");
  auto second = reserveDownloadFile(downloads, "report.txt");
  ASSERT_TRUE(std::holds_alternative<fs::path>(second));
  EXPECT_EQ(std::get<fs::path>(second), downloads / "report (1).txt");
  // A link planted under the name is not written through.
  fs::create_symlink(root_ / "elsewhere" / "secret.html", downloads / "page.html");
  auto linked = reserveDownloadFile(downloads, "page.html");
  ASSERT_TRUE(std::holds_alternative<fs::path>(linked));
  EXPECT_EQ(std::get<fs::path>(linked), downloads / "page (1).html");
  struct stat info {};
  ASSERT_EQ(::stat((downloads / "page (1).html").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  for (const auto& [suggested, kept] : std::vector<std::pair<std::string, std::string>>{
           {"../../.bashrc", "bashrc"}, {"a/b/c.txt", "c.txt"}, {"", "download"}, {"..", "download (1)"},
           {"line\nbreak.txt", "linebreak.txt"}, {"noext", "noext"}}) {
    auto reserved = reserveDownloadFile(downloads, suggested);
    ASSERT_TRUE(std::holds_alternative<fs::path>(reserved)) << suggested;
    EXPECT_EQ(std::get<fs::path>(reserved), downloads / kept) << suggested;
  }
  EXPECT_EQ(std::get<fs::path>(reserveDownloadFile(downloads, "noext")), downloads / "noext (1)");
  EXPECT_EQ(std::get<fs::path>(reserveDownloadFile(downloads, ".hidden.txt")), downloads / "hidden.txt");
}

}  // namespace
}  // namespace tavero::platform
