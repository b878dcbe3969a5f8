// `tavero create`: the identifiers it derives and accepts, and a new app
// folder that never replaces a file that was there. The app it makes is
// run for real in NewAppTests.cpp.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "app/AppTemplate.h"
#include "app/BundleIdentifier.h"
#include "app/CreateCommand.h"
#include "app/NewAppFolder.h"
#include "base/FileRead.h"
#include "json/JsonCodec.h"
#include "platform/linux/PlistBundleReader.h"

namespace tavero::app {
namespace {

namespace fs = std::filesystem;

TEST(BundleIdentifier, AFolderNameBecomesALowerCaseLabelUnderOrgExample) {
  EXPECT_EQ(bundleIdentifierForFolder("notes"), "org.example.notes");
  EXPECT_EQ(bundleIdentifierForFolder("My Notes!"), "org.example.my-notes");
  EXPECT_EQ(bundleIdentifierForFolder("--2nd__try.app--"), "org.example.2nd-try-app");
  EXPECT_EQ(bundleIdentifierForFolder("Caf\xc3\xa9 au lait"), "org.example.caf-au-lait");
  EXPECT_EQ(bundleIdentifierForFolder("\xe6\x97\xa5\xe6\x9c\xac"), "org.example.app");  // nothing ASCII left
  EXPECT_EQ(bundleIdentifierForFolder(""), "org.example.app");
}

TEST(BundleIdentifier, EveryDerivedIdentifierIsAValidOneEvenForLongNames) {
  for (std::string name : {std::string(200, 'a'), std::string(62, 'a') + " b", std::string(61, 'a') + "  bc",
                           std::string("a b ") + std::string(300, '-') + "c", std::string(".."), std::string("/")}) {
    std::string identifier = bundleIdentifierForFolder(name);
    EXPECT_EQ(bundleIdentifierProblem(identifier), std::nullopt) << identifier;
  }
}

TEST(BundleIdentifier, OnlyReverseDNSNamesAreAccepted) {
  for (const char* good : {"org.example.notes", "com.Example.App2", "a.b", "org.example.my-notes", "de.3m.x"})
    EXPECT_EQ(bundleIdentifierProblem(good), std::nullopt) << good;
  std::string longLabel = "org." + std::string(64, 'a');
  std::string longWhole = "org." + std::string(60, 'a') + "." + std::string(60, 'b') + "." + std::string(30, 'c');
  for (std::string bad : {std::string(""), std::string("notes"), std::string("org..notes"), std::string(".org.notes"),
                          std::string("org.notes."), std::string("org.my_notes"), std::string("org.-notes"),
                          std::string("org.notes-"), std::string("org/../x.y"), std::string("org.notes\n"),
                          std::string("org.caf\xc3\xa9"), std::string("org. notes"), longLabel, longWhole}) {
    auto problem = bundleIdentifierProblem(bad);
    EXPECT_TRUE(problem.has_value()) << bad;
  }
  EXPECT_NE(bundleIdentifierProblem("org.my_notes")->find("\"_\""), std::string::npos);
}

TEST(AppTemplate, PlaceholdersAreFilledOnceAndEscapedForWhereTheyStand) {
  AppIdentity app{.identifier = "org.example.x", .displayName = "Kim's <\"best\"> & @@APP_ID@@"};
  EXPECT_EQ(filledTemplate("<string>@@APP_NAME_XML@@</string>", app),
            "<string>Kim&#39;s &lt;&quot;best&quot;&gt; &amp; @@APP_ID@@</string>");
  EXPECT_EQ(filledTemplate("{\"name\": @@APP_NAME_JSON@@}", app),
            "{\"name\": \"Kim's <\\\"best\\\"> & @@APP_ID@@\"}");
  EXPECT_EQ(filledTemplate("@@@APP_ID@@ @@ @@NOPE@@", app), "@org.example.x @@ @@NOPE@@");
}

class CreateCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("tavero-create-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  int create(std::vector<std::string> args) {
    std::ostringstream out, err;
    int status = runCreate(args, out, err);
    out_ = out.str();
    err_ = err.str();
    return status;
  }

  // Every path under `folder`, relative to it.
  static std::set<std::string> contents(const fs::path& folder) {
    std::set<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
      found.insert(fs::relative(entry.path(), folder).string());
    return found;
  }

  static mode_t modeOf(const fs::path& path) {
    struct stat status{};
    ::lstat(path.c_str(), &status);
    return status.st_mode & 07777;
  }

  fs::path folder_;
  std::string out_, err_;
};

TEST_F(CreateCommand, MakesARunnableBundleNamedAfterTheFolderWithEscapedNames) {
  fs::path app = folder_ / "new" / "Kim's <Notes> & co";
  ASSERT_EQ(create({app.string()}), 0) << err_;
  auto bundle = platform::readBundle(app);
  ASSERT_TRUE(std::holds_alternative<platform::BundleInfo>(bundle)) << std::get<std::string>(bundle);
  EXPECT_EQ(std::get<platform::BundleInfo>(bundle).bundleIdentifier, "org.example.kim-s-notes-co");
  EXPECT_EQ(std::get<platform::BundleInfo>(bundle).displayName, "Kim's <Notes> & co");
  EXPECT_EQ(std::get<platform::BundleInfo>(bundle).indexPage, "index.html");
  auto manifest = json::JsonCodec::dictionaryWithJSONString(base::readFileText(app / "webapp/app.json").value_or(""));
  ASSERT_TRUE(manifest);
  EXPECT_EQ(manifest->find("name")->asString(), "Kim's <Notes> & co");
  EXPECT_TRUE(fs::is_regular_file(app / "webapp/index.html"));
  EXPECT_TRUE(fs::is_regular_file(app / "device.json"));
  EXPECT_TRUE(fs::is_regular_file(app / "types/tavero.d.ts"));
  // What it made, and what to do next.
  EXPECT_NE(out_.find("webapp/index.html"), std::string::npos) << out_;
  EXPECT_NE(out_.find("tavero run"), std::string::npos) << out_;
  // The path quoted for the shell, its quote too.
  EXPECT_NE(out_.find("cd '" + (folder_ / "new").string() + "/Kim'\\''s <Notes> & co'\n"), std::string::npos) << out_;
}

TEST_F(CreateCommand, TakesTheIdentifierAndNameGivenAndAPathTypedWithDots) {
  fs::create_directories(folder_ / "work");
  std::string typed = (folder_ / "work" / ".." / "app" / "").string();
  ASSERT_EQ(create({typed, "--id", "com.Example.Notes2", "--name", "Notes \xe2\x9c\x8e"}), 0) << err_;
  auto bundle = platform::readBundle(folder_ / "app");
  ASSERT_TRUE(std::holds_alternative<platform::BundleInfo>(bundle));
  EXPECT_EQ(std::get<platform::BundleInfo>(bundle).bundleIdentifier, "com.Example.Notes2");
  EXPECT_EQ(std::get<platform::BundleInfo>(bundle).displayName, "Notes \xe2\x9c\x8e");
  EXPECT_FALSE(fs::exists(folder_ / "work" / "Info.plist"));
}

TEST_F(CreateCommand, FilesAreOrdinarySourcesAndTheSmokeTestIsExecutable) {
  mode_t before = ::umask(022);
  int status = create({(folder_ / "app").string()});
  ::umask(before);
  ASSERT_EQ(status, 0) << err_;
  EXPECT_EQ(modeOf(folder_ / "app"), 0755u);
  EXPECT_EQ(modeOf(folder_ / "app/webapp"), 0755u);
  EXPECT_EQ(modeOf(folder_ / "app/Info.plist"), 0644u);
  EXPECT_EQ(modeOf(folder_ / "app/webapp/app.js"), 0644u);
  EXPECT_EQ(modeOf(folder_ / "app/tests/smoke.sh"), 0755u);
}

TEST_F(CreateCommand, AnEmptyFolderOrOneWithOtherFilesIsUsed) {
  fs::create_directories(folder_ / "empty");
  EXPECT_EQ(create({(folder_ / "empty").string()}), 0) << err_;
  fs::create_directories(folder_ / "repo/.git");
  std::ofstream(folder_ / "repo/LICENSE") << "mine";
  EXPECT_EQ(create({(folder_ / "repo").string()}), 0) << err_;
  EXPECT_EQ(base::readFileText(folder_ / "repo/LICENSE"), "mine");
}

// Any one file in the way stops everything before a byte is written, and
// the message names it.
TEST_F(CreateCommand, RefusesBeforeWritingWhenAnyOfItsFilesIsAlreadyThere) {
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> prepare;
    const char* named;
  };
  const std::vector<Case> cases = {
      {"a file", [](const fs::path& app) { std::ofstream(app / "webapp/style.css") << "mine"; }, "webapp/style.css"},
      {"a dangling link", [](const fs::path& app) { fs::create_symlink(app / "gone", app / "README.md"); }, "README.md"},
      {"a file where a folder goes", [](const fs::path& app) { std::ofstream(app / "types") << "mine"; }, "types"},
      {"a folder where a file goes", [](const fs::path& app) { fs::create_directories(app / "device.json"); },
       "device.json"},
  };
  for (const auto& testCase : cases) {
    fs::path app = folder_ / testCase.name;
    fs::create_directories(app / "webapp");
    testCase.prepare(app);
    auto before = contents(app);
    EXPECT_EQ(create({app.string()}), 2) << testCase.name;
    EXPECT_NE(err_.find((app / testCase.named).string()), std::string::npos) << err_;
    EXPECT_EQ(contents(app), before) << testCase.name;
    EXPECT_TRUE(out_.empty()) << out_;
  }
  EXPECT_EQ(base::readFileText(folder_ / "a file/webapp/style.css"), "mine");
}

TEST_F(CreateCommand, AFolderThatIsAFileOrBadArgumentsAreUsageErrorsThatWriteNothing) {
  std::ofstream(folder_ / "plain") << "mine";
  EXPECT_EQ(create({(folder_ / "plain").string()}), 2);
  EXPECT_NE(err_.find("is not a folder"), std::string::npos) << err_;

  fs::path app = folder_ / "app";
  for (auto args : {std::vector<std::string>{app.string(), "--id", "notes"},
                    {app.string(), "--id", "org.my_notes"},
                    {app.string(), "--id", ""},
                    {app.string(), "--name", ""},
                    {app.string(), "--name", "two\nlines"},
                    {app.string(), "--name", "\xff\xfe"},
                    {},
                    {app.string(), "other"},
                    {app.string(), "--id"},
                    {app.string(), "--colour", "red"}}) {
    EXPECT_EQ(create(args), 2) << (args.empty() ? "(nothing)" : args.back());
    EXPECT_FALSE(err_.empty());
    EXPECT_FALSE(fs::exists(app)) << (args.empty() ? "(nothing)" : args.back());
  }
  create({app.string(), "--id", "org.my_notes"});
  EXPECT_NE(err_.find("not a reverse-DNS bundle identifier"), std::string::npos) << err_;
  EXPECT_EQ(create({"--help"}), 0);
  EXPECT_NE(out_.find("usage: tavero create DIR"), std::string::npos);
}

// A file that appears after the check is not replaced either: the write
// fails, and what the write had made is taken away again.
TEST_F(CreateCommand, AWriteThatFailsLeavesNothingOfItsOwnAndReplacesNothing) {
  fs::path app = folder_ / "app";
  fs::create_directories(app);
  std::vector<NewAppFolder::File> files = {{"a/one.txt", "1"}, {"b/c/two.txt", "2"}, {"three.txt", "3"}};
  NewAppFolder folder(app);
  ASSERT_EQ(folder.obstacle(files), std::nullopt);
  std::ofstream(app / "three.txt") << "mine";
  auto failure = folder.write(files);
  ASSERT_TRUE(failure.has_value());
  EXPECT_NE(failure->find("three.txt"), std::string::npos) << *failure;
  EXPECT_EQ(contents(app), std::set<std::string>{"three.txt"});
  EXPECT_EQ(base::readFileText(app / "three.txt"), "mine");

  // A name the file system refuses, after other files were written.
  files.back().path = std::string(300, 'x');
  EXPECT_TRUE(NewAppFolder(folder_ / "fresh/app").write(files).has_value());
  EXPECT_FALSE(fs::exists(folder_ / "fresh"));
}

}  // namespace
}  // namespace tavero::app
