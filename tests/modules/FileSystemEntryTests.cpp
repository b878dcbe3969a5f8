// File systems and their entries: ids, paths, listing, creating, moving,
// copying and removing.
#include <sys/stat.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "modules/FileSystemFixture.h"

namespace tavero::modules {
namespace {

using FileSystemEntries = FileSystemTest;
TAVERO_FILE_SYSTEM_TESTS(FileSystemEntries);

TEST_P(FileSystemEntries, EveryRequestGetsANewIdAndIdsOfOneOriginShareItsFolder) {
  EXPECT_EQ(requestFileSystem("file:///app/other.html"), "2");
  EXPECT_EQ(succeeded("getEntry", {{"path", "/"}, {"newPath", "made-by-1.txt"}, {"create", "true"}}),
            "/made-by-1.txt");
  id_ = "2";
  EXPECT_EQ(succeeded("getEntry", {{"path", "/"}, {"newPath", "made-by-1.txt"}}), "/made-by-1.txt");
  EXPECT_TRUE(fs::is_regular_file(root_ / "made-by-1.txt"));

  EXPECT_EQ(requestFileSystem("http://example.com:8080/app/index.html"), "3");
  EXPECT_TRUE(fs::is_directory(folder_ / "file_systems" / "http_example.com_8080"));
  EXPECT_EQ(module_->rootOf("3"), folder_ / "file_systems" / "http_example.com_8080");
}

// What a page keeps is its user's alone, whatever umask the shell got.
TEST_P(FileSystemEntries, NewRootsFoldersAndFilesArePrivateWhateverTheUmask) {
  const mode_t oldMask = ::umask(0);
  EXPECT_EQ(requestFileSystem("http://example.com/index.html"), "2");
  id_ = "2";
  const std::pair<const char*, const char*> site{"__source", "http://example.com/index.html"};
  EXPECT_EQ(succeeded("getEntry", {{"path", "/"}, {"newPath", "notes.txt"}, {"create", "true"}, site}), "/notes.txt");
  EXPECT_EQ(
      succeeded("getEntry", {{"path", "/"}, {"newPath", "folder"}, {"create", "true"}, {"directory", "true"}, site}),
      "/folder");
  ::umask(oldMask);
  ASSERT_TRUE(module_->rootOf("2"));
  const fs::path root = *module_->rootOf("2");
  struct stat st {};
  for (const auto& [path, mode] : {std::pair{root, 0700u}, {root / "notes.txt", 0600u}, {root / "folder", 0700u}}) {
    ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
    EXPECT_EQ(st.st_mode & 0777, mode) << path;
  }
}

TEST_P(FileSystemEntries, IdsThisRunNeverHandedOutGetNoAnswerAtAll) {
  makeFile("a.txt", "abc");
  for (const char* id : {"7", "", "01", " 1", "1 "}) {
    id_ = id;
    for (const char* operation : {"getParent", "moveTo", "remove", "readEntries", "getEntry", "seek", "read",
                                  "write", "truncate"})
      EXPECT_TRUE(run(operation, {{"path", "/a.txt"}, {"parentPath", "/"}, {"newName", "b.txt"}}).empty())
          << operation << " with id \"" << id << "\"";
  }
  EXPECT_EQ(contentOf(root_ / "a.txt"), "abc");
}

TEST_P(FileSystemEntries, AnIdPresentedByAnotherOriginIsAnsweredAsAnUnknownOne) {
  makeFile("a.txt", "abc");
  ASSERT_EQ(requestFileSystem("http://example.com:8080/index.html"), "2");
  const std::string site = "http://example.com:8080/index.html";
  const std::vector<std::pair<std::string, std::string>> strangers = {
      {"1", site},                                  // the site, with the app's id
      {"1", "http://example.com:8081/index.html"},  // another port is another origin
      {"1", "not a url"},
      {"2", "file:///app/index.html"},  // the app, with the site's id
  };
  for (const auto& [id, source] : strangers) {
    id_ = id;
    for (const char* operation : {"getParent", "moveTo", "remove", "readEntries", "getEntry", "seek", "read",
                                  "write", "truncate"})
      EXPECT_TRUE(run(operation, {{"__source", source}, {"path", "/a.txt"}, {"parentPath", "/"}, {"newName", "b.txt"},
                                  {"data", "x"}, {"size", "0"}})
                      .empty())
          << operation << " with id " << id << " from " << source;
  }
  EXPECT_EQ(contentOf(root_ / "a.txt"), "abc");
  // Each origin still uses its own id, from any of its pages.
  id_ = "1";
  EXPECT_EQ(succeeded("read", {{"__source", "file:///app/other/page.html"}, {"path", "/a.txt"}}),
            R"({ "offset" : 3, "data" : "abc"})");
  id_ = "2";
  EXPECT_EQ(succeeded("readEntries", {{"__source", site}, {"path", "/"}}), "[]");
}

TEST_P(FileSystemEntries, AFileSystemThatCannotBeMadeReportsTheSystemsReason) {
  // A file where the folder of all file systems should be.
  fs::remove_all(folder_ / "file_systems");
  std::ofstream(folder_ / "file_systems") << "in the way";
  EXPECT_EQ(requestFileSystem("file:///app/index.html"), "FAILED: Unable to get file system: Not a directory");
}

TEST_P(FileSystemEntries, ParentsAreStandardizedAndTheRootIsItsOwnParent) {
  makeFolder("a/b");
  makeFile("b", "");
  EXPECT_EQ(succeeded("getParent", {{"path", "/"}}), "/");
  EXPECT_EQ(succeeded("getParent", {{"path", "/a/b/"}}), "/a");
  EXPECT_EQ(succeeded("getParent", {{"path", "//a//./b"}}), "/a");
  EXPECT_EQ(succeeded("getParent", {{"path", "/a/../b"}}), "/");
  EXPECT_EQ(failed("getParent", {{"path", "/a/missing"}}), "Could not get parent: invalid state");
  EXPECT_EQ(failed("getParent", {{"path", "a/b"}}), "Could not get parent: invalid state");
  EXPECT_EQ(failed("getParent", {}), "Could not get parent: invalid state");
}

TEST_P(FileSystemEntries, TheRootCannotBeRemovedAndFoldersWithChildrenOnlyRecursively) {
  for (const char* root : {"/", "//", "/.", "/a/..", "/../.."})
    EXPECT_EQ(failed("remove", {{"path", root}, {"recursively", "true"}}), "Could not remove entry: is root directory")
        << root;
  makeFile("docs/deep/a.txt", "a");
  makeFolder("empty");
  EXPECT_EQ(failed("remove", {{"path", "/docs"}}), "Could not remove entry: is not empty");
  EXPECT_TRUE(fs::exists(root_ / "docs/deep/a.txt"));
  EXPECT_EQ(succeeded("remove", {{"path", "/docs"}, {"recursively", "yes"}}), "<nothing>");
  EXPECT_FALSE(fs::exists(root_ / "docs"));
  EXPECT_EQ(succeeded("remove", {{"path", "/empty/"}}), "<nothing>");
  EXPECT_FALSE(fs::exists(root_ / "empty"));
  EXPECT_EQ(failed("remove", {{"path", "/empty"}}), "Could not remove entry: invalid state");
  EXPECT_TRUE(fs::is_directory(root_));
}

TEST_P(FileSystemEntries, RemoveAnswersWithNoValue) {
  makeFile("a.txt", "a");
  auto delivered = run("remove", {{"path", "/a.txt"}});
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].id, kSuccess);
  EXPECT_FALSE(delivered[0].value.has_value());
}

TEST_P(FileSystemEntries, ReadEntriesListsChildrenWithTheirFullPathsAndKinds) {
  makeFolder("empty");
  makeFile("docs/a.txt", "a");
  makeFolder("docs/sub");
  auto empty = run("readEntries", {{"path", "/empty"}});
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(empty[0].value, json::Value(json::Array{}));
  EXPECT_EQ(entries("/docs/"), "/docs/a.txt /docs/sub/");
  EXPECT_EQ(entries("/"), "/docs/ /empty/");
  EXPECT_EQ(entries("//docs/sub/.."), "/docs/a.txt /docs/sub/");
  EXPECT_EQ(failed("readEntries", {{"path", "/docs/a.txt"}}), "Could not read entries: Not a directory");
  EXPECT_EQ(failed("readEntries", {{"path", "/nothing"}}), "Could not read entries: invalid state");
}

TEST_P(FileSystemEntries, GetEntryFindsAndCreatesRelativeToItsPathOrFromTheRoot) {
  makeFolder("docs");
  makeFolder("x");
  EXPECT_EQ(succeeded("getEntry", {{"path", "/docs"}, {"newPath", "b.txt"}, {"create", "true"}}), "/docs/b.txt");
  EXPECT_TRUE(fs::is_regular_file(root_ / "docs/b.txt"));
  EXPECT_EQ(fs::file_size(root_ / "docs/b.txt"), 0u);
  EXPECT_EQ(succeeded("getEntry", {{"path", "/docs"}, {"newPath", "/x/y"}, {"directory", "1"}, {"create", "1"}}),
            "/x/y");
  EXPECT_TRUE(fs::is_directory(root_ / "x/y"));
  EXPECT_EQ(succeeded("getEntry", {{"path", "/docs"}, {"newPath", "./../docs//b.txt"}}), "/docs/b.txt");
  EXPECT_EQ(succeeded("getEntry", {{"path", "/docs"}, {"newPath", "b.txt"}, {"create", "true"}}), "/docs/b.txt");
  EXPECT_EQ(failed("getEntry", {{"path", "/docs"}, {"newPath", "c.txt"}}), "Could not get entry: not found");
  EXPECT_EQ(failed("getEntry", {{"path", "/docs"}, {"newPath", "no/c.txt"}, {"create", "true"}}),
            "Could not get entry: No such file or directory");
  EXPECT_EQ(failed("getEntry", {{"path", "/docs/b.txt"}, {"newPath", "c.txt"}, {"create", "true"}}),
            "Could not get entry: Not a directory");
  EXPECT_EQ(failed("getEntry", {{"path", "/nowhere"}, {"newPath", "/docs"}}), "Could not get entry: invalid state");
}

TEST_P(FileSystemEntries, GetEntryComparesTheKindBeforeExclusiveCreation) {
  makeFile("file.txt", "keep");
  makeFolder("folder");
  EXPECT_EQ(failed("getEntry", {{"path", "/"}, {"newPath", "file.txt"}, {"directory", "true"}, {"create", "true"},
                                {"exclusive", "true"}}),
            "Could not get entry: type mismatch");
  EXPECT_EQ(failed("getEntry", {{"path", "/"}, {"newPath", "folder"}}), "Could not get entry: type mismatch");
  EXPECT_EQ(failed("getEntry", {{"path", "/"}, {"newPath", "file.txt"}, {"create", "true"}, {"exclusive", "true"}}),
            "Could not get entry: path exists");
  EXPECT_EQ(succeeded("getEntry", {{"path", "/"}, {"newPath", "file.txt"}, {"create", "true"}}), "/file.txt");
  EXPECT_EQ(contentOf(root_ / "file.txt"), "keep");  // found, not made again
}

TEST_P(FileSystemEntries, MoveToRenamesAndMovesIntoAnotherFolder) {
  makeFile("a.txt", "a");
  makeFile("dir/inner.txt", "inner");
  makeFolder("into");
  EXPECT_EQ(succeeded("moveTo", {{"path", "/a.txt"}, {"parentPath", "/"}, {"newName", "b.txt"}}), "/b.txt");
  EXPECT_EQ(contentOf(root_ / "b.txt"), "a");
  EXPECT_FALSE(fs::exists(root_ / "a.txt"));
  // Without a new name the entry keeps its own, also written with a
  // trailing separator.
  EXPECT_EQ(succeeded("moveTo", {{"path", "/dir/"}, {"parentPath", "/into"}}), "/into/dir");
  EXPECT_EQ(contentOf(root_ / "into/dir/inner.txt"), "inner");
  EXPECT_EQ(failed("moveTo", {{"path", "/missing"}, {"parentPath", "/"}, {"newName", "x"}}),
            "Could not move entry: invalid state");
  EXPECT_EQ(failed("moveTo", {{"path", "/b.txt"}, {"parentPath", "/missing"}}), "Could not move entry: invalid state");
  makeFile("file", "");
  EXPECT_EQ(failed("moveTo", {{"path", "/b.txt"}, {"parentPath", "/file"}, {"newName", "c"}}),
            "Could not move entry: Not a directory");
}

TEST_P(FileSystemEntries, NamesAreSingleComponentsOtherThanDotAndDotDot) {
  makeFile("a.txt", "a");
  makeFolder("dir");
  for (const char* name : {".", "..", "x/y", "/"})
    EXPECT_EQ(failed("moveTo", {{"path", "/a.txt"}, {"parentPath", "/dir"}, {"newName", name}}),
              "Could not move entry: invalid name")
        << name;
  // The name taken from the path is held to the same rule.
  EXPECT_EQ(failed("moveTo", {{"path", "/dir/.."}, {"parentPath", "/dir"}}), "Could not move entry: invalid name");
  EXPECT_EQ(failed("moveTo", {{"path", "/"}, {"parentPath", "/dir"}}), "Could not move entry: invalid name");
  EXPECT_EQ(contentOf(root_ / "a.txt"), "a");
}

TEST_P(FileSystemEntries, MoveToReplacesOnlyAFileByAFileAndAnEmptyFolderByAFolder) {
  makeFile("new.txt", "new");
  makeFile("old.txt", "old");
  EXPECT_EQ(succeeded("moveTo", {{"path", "/new.txt"}, {"parentPath", "/"}, {"newName", "old.txt"}}), "/old.txt");
  EXPECT_EQ(contentOf(root_ / "old.txt"), "new");

  makeFile("folder/child.txt", "child");
  makeFolder("empty");
  EXPECT_EQ(succeeded("moveTo", {{"path", "/folder"}, {"parentPath", "/"}, {"newName", "empty"}}), "/empty");
  EXPECT_EQ(contentOf(root_ / "empty/child.txt"), "child");

  makeFile("full/keep.txt", "keep");
  makeFolder("other");
  EXPECT_EQ(failed("moveTo", {{"path", "/other"}, {"parentPath", "/"}, {"newName", "full"}}),
            "Could not move entry: File exists");
  EXPECT_EQ(failed("moveTo", {{"path", "/old.txt"}, {"parentPath", "/"}, {"newName", "other"}}),
            "Could not move entry: File exists");
  EXPECT_EQ(failed("moveTo", {{"path", "/other"}, {"parentPath", "/"}, {"newName", "old.txt"}}),
            "Could not move entry: File exists");
  EXPECT_EQ(failed("moveTo", {{"path", "/old.txt"}, {"parentPath", "/"}}), "Could not move entry: File exists");
  EXPECT_EQ(contentOf(root_ / "full/keep.txt"), "keep");
  EXPECT_EQ(contentOf(root_ / "old.txt"), "new");
  EXPECT_TRUE(fs::is_directory(root_ / "other"));
}

// The page client turns "Could not move entry: File exists" into the File
// API's INVALID_MODIFICATION_ERR: a copy must be refused with the same
// message as a move in each case, and change nothing.
TEST_P(FileSystemEntries, CopyToIsRefusedWithTheMessagesOfMoveTo) {
  makeFile("a.txt", "a");
  makeFile("full/keep.txt", "keep");
  makeFolder("other");
  const std::vector<std::pair<const char*, FileArguments>> refused = {
      {"a file onto itself", {{"path", "/a.txt"}, {"parentPath", "/"}}},
      {"a file onto a folder", {{"path", "/a.txt"}, {"parentPath", "/"}, {"newName", "other"}}},
      {"a folder onto a file", {{"path", "/other"}, {"parentPath", "/"}, {"newName", "a.txt"}}},
      {"a folder onto a folder that is not empty", {{"path", "/other"}, {"parentPath", "/"}, {"newName", "full"}}},
      {"a folder onto itself", {{"path", "/full"}, {"parentPath", "/"}}},
  };
  for (const char* copy : {"false", "true"}) {
    for (auto [what, arguments] : refused) {
      arguments.emplace_back("copy", copy);
      EXPECT_EQ(failed("moveTo", arguments), "Could not move entry: File exists") << what << ", copy " << copy;
    }
  }
  EXPECT_EQ(entries("/"), "/a.txt /full/ /other/");
  EXPECT_EQ(contentOf(root_ / "a.txt"), "a");
  EXPECT_EQ(contentOf(root_ / "full/keep.txt"), "keep");
  const fs::path copying = folder_ / "file_systems/.copying";
  EXPECT_TRUE(!fs::exists(copying) || fs::is_empty(copying));
}

TEST_P(FileSystemEntries, AnEntryWhoseNameBeginsWithTheSourcesNameIsReplacedLikeAnyOther) {
  makeFile("a", "a");
  makeFile("ab", "ab");
  EXPECT_EQ(succeeded("moveTo", {{"path", "/a"}, {"parentPath", "/"}, {"newName", "ab"}}), "/ab");
  EXPECT_EQ(contentOf(root_ / "ab"), "a");
}

TEST_P(FileSystemEntries, AFolderCannotGoIntoItselfOrItsOwnDescendant) {
  makeFile("a/b/c.txt", "c");
  for (const char* copy : {"false", "true"}) {
    EXPECT_EQ(failed("moveTo", {{"path", "/a"}, {"parentPath", "/a/b"}, {"copy", copy}}),
              "Could not move entry: Invalid argument");
    EXPECT_EQ(failed("moveTo", {{"path", "/a"}, {"parentPath", "/a"}, {"newName", "x"}, {"copy", copy}}),
              "Could not move entry: Invalid argument");
    EXPECT_EQ(failed("moveTo", {{"path", "/"}, {"parentPath", "/a"}, {"newName", "root"}, {"copy", copy}}),
              "Could not move entry: Invalid argument");
  }
  EXPECT_EQ(contentOf(root_ / "a/b/c.txt"), "c");
  EXPECT_EQ(std::distance(fs::recursive_directory_iterator(root_), fs::recursive_directory_iterator()), 3);
}

TEST_P(FileSystemEntries, CopyLeavesTheSourceAndCopiesFoldersWhole) {
  makeFile("docs/a.txt", "a");
  makeFile("docs/sub/b.txt", "b");
  ::chmod((root_ / "docs/a.txt").c_str(), 0640);
  EXPECT_EQ(succeeded("moveTo", {{"path", "/docs"}, {"parentPath", "/"}, {"newName", "copy"}, {"copy", "true"}}),
            "/copy");
  EXPECT_EQ(contentOf(root_ / "docs/a.txt"), "a");
  EXPECT_EQ(contentOf(root_ / "copy/a.txt"), "a");
  EXPECT_EQ(contentOf(root_ / "copy/sub/b.txt"), "b");
  EXPECT_EQ(fs::status(root_ / "copy/a.txt").permissions(), fs::status(root_ / "docs/a.txt").permissions());

  makeFile("old.txt", "old");
  EXPECT_EQ(succeeded("moveTo", {{"path", "/docs/a.txt"}, {"parentPath", "/"}, {"newName", "old.txt"}, {"copy", "1"}}),
            "/old.txt");
  EXPECT_EQ(contentOf(root_ / "old.txt"), "a");
  EXPECT_EQ(failed("moveTo", {{"path", "/docs"}, {"parentPath", "/"}, {"newName", "copy"}, {"copy", "true"}}),
            "Could not move entry: File exists");
  // Copies are made outside the root and nothing of them stays behind.
  EXPECT_EQ(entries("/"), "/copy/ /docs/ /old.txt");
  EXPECT_TRUE(fs::is_empty(folder_ / "file_systems/.copying"));
}

TEST_P(FileSystemEntries, ACopyThatFailsHalfWayLeavesNothingAndKeepsWhatItWouldHaveReplaced) {
  makeFile("src/a.txt", "a");
  ASSERT_EQ(::mkfifo((root_ / "src/pipe").c_str(), 0600), 0);  // cannot be copied
  makeFolder("empty");
  EXPECT_EQ(failed("moveTo", {{"path", "/src"}, {"parentPath", "/"}, {"newName", "dst"}, {"copy", "true"}}),
            "Could not move entry: Operation not supported");
  EXPECT_EQ(failed("moveTo", {{"path", "/src"}, {"parentPath", "/"}, {"newName", "empty"}, {"copy", "true"}}),
            "Could not move entry: Operation not supported");
  EXPECT_FALSE(fs::exists(root_ / "dst"));
  EXPECT_TRUE(fs::is_directory(root_ / "empty"));
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(root_)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"empty", "src"}));
  EXPECT_TRUE(fs::is_empty(folder_ / "file_systems/.copying"));
}

TEST_P(FileSystemEntries, ACopyOfAnExtendedFileStaysSparse) {
  makeFile("sparse", "start");
  constexpr int64_t kSize = 64 << 20;
  EXPECT_EQ(succeeded("truncate", {{"path", "/sparse"}, {"size", std::to_string(kSize)}}), "0");
  EXPECT_EQ(succeeded("write", {{"path", "/sparse"}, {"offset", std::to_string(kSize / 2)}, {"data", "middle"}}),
            std::to_string(kSize / 2 + 6));
  EXPECT_EQ(succeeded("moveTo", {{"path", "/sparse"}, {"parentPath", "/"}, {"newName", "copy"}, {"copy", "1"}}), "/copy");
  struct stat st {};
  ASSERT_EQ(::stat((root_ / "copy").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, kSize);
  EXPECT_LT(st.st_blocks * 512, 1 << 20);  // the zeros were not written out
  std::string copied = contentOf(root_ / "copy");
  EXPECT_EQ(copied.substr(0, 5), "start");
  EXPECT_EQ(copied.substr(kSize / 2, 6), "middle");
  EXPECT_EQ(copied.find_first_not_of('\0', 5), static_cast<size_t>(kSize / 2));
}

TEST_P(FileSystemEntries, CopiesCutShortByACrashAreRemovedWhenTheNextRunStarts) {
  const fs::path staging = folder_ / "file_systems/.copying";
  fs::create_directories(staging / "999999999-3/inner");  // of a process that has ended
  const std::string ours = std::to_string(::getpid()) + "-7";
  std::ofstream(staging / ours) << "in flight";
  module_ = std::make_unique<TQFileSystem>(callbacks_, folder_ / "file_systems", GetParam());
  EXPECT_EQ(requestFileSystem("file:///app/index.html"), "1");
  EXPECT_FALSE(fs::exists(staging / "999999999-3"));
  EXPECT_TRUE(fs::exists(staging / ours));
}

}  // namespace
}  // namespace tavero::modules
