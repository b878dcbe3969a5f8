// Attempts to reach outside a file system's root: "..", doubled separators,
// NUL bytes, symbolic links made by another program, pipes, a root that was
// swapped for a link. Nothing outside may be read, written, listed, moved or
// removed, and nothing may be made there.
#include <sys/stat.h>
#include <unistd.h>

#include "log/Log.h"
#include "modules/files/EntryTree.h"
#include "modules/FileSystemFixture.h"

namespace tavero::modules {
namespace {

class FileSystemEscapes : public FileSystemTest {
 protected:
  void SetUp() override {
    FileSystemTest::SetUp();
    std::ofstream(folder_ / "outside/secret.txt") << "secret";
    // Links another program made inside the root.
    fs::create_directory_symlink(folder_ / "outside", root_ / "out");
    fs::create_symlink(folder_ / "outside/secret.txt", root_ / "secret-link");
    makeFolder("dir");
    fs::create_directory_symlink("../../../outside", root_ / "dir/up");  // relative, climbing out
  }
  // Everything outside is as SetUp left it.
  void expectOutsideUntouched() {
    EXPECT_EQ(contentOf(folder_ / "outside/secret.txt"), "secret");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "outside"), fs::directory_iterator()), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 2);  // file_systems, outside
  }
};
TAVERO_FILE_SYSTEM_TESTS(FileSystemEscapes);

TEST_P(FileSystemEscapes, DotDotAndDoubledSeparatorsStayBeneathTheRoot) {
  EXPECT_EQ(succeeded("getEntry", {{"path", "/"}, {"newPath", "../../outside/made.txt"}, {"create", "true"}}),
            "FAILED: Could not get entry: No such file or directory");
  EXPECT_EQ(succeeded("getEntry", {{"path", "/dir"}, {"newPath", "../../../../x.txt"}, {"create", "true"}}), "/x.txt");
  EXPECT_TRUE(fs::exists(root_ / "x.txt"));
  EXPECT_EQ(succeeded("getEntry", {{"path", "/"}, {"newPath", "//dir//..//..//y"}, {"create", "1"}, {"directory", "1"}}),
            "/y");
  EXPECT_EQ(succeeded("getParent", {{"path", "/../../.."}}), "/");
  EXPECT_EQ(succeeded("moveTo", {{"path", "/x.txt"}, {"parentPath", "/../.."}, {"newName", "z.txt"}}), "/z.txt");
  EXPECT_EQ(failed("moveTo", {{"path", "/z.txt"}, {"parentPath", "/"}, {"newName", ".."}}), "Could not move entry: invalid name");
  // An encoded separator arrives decoded; doubly encoded, it is a plain character.
  EXPECT_EQ(succeeded("getEntry", {{"path", "/"}, {"newPath", "..%2F..%2Fa"}, {"create", "1"}}), "/..%2F..%2Fa");
  EXPECT_TRUE(fs::exists(root_ / "..%2F..%2Fa"));
  expectOutsideUntouched();
}

TEST_P(FileSystemEscapes, LinksAreNeverReadOrWrittenThrough) {
  EXPECT_EQ(failed("read", {{"path", "/secret-link"}}), "Could not read: not readable");
  EXPECT_EQ(failed("seek", {{"path", "/secret-link"}}), "Could not seek: not readable");
  EXPECT_EQ(failed("write", {{"path", "/secret-link"}, {"data", "overwritten"}}), "Could not write: not writable");
  EXPECT_EQ(failed("truncate", {{"path", "/secret-link"}, {"size", "0"}}), "Could not truncate: not writable");
  EXPECT_EQ(failed("read", {{"path", "/out/secret.txt"}}), "Could not read: invalid state");
  EXPECT_EQ(failed("write", {{"path", "/dir/up/secret.txt"}, {"data", "x"}}), "Could not write: invalid state");
  expectOutsideUntouched();
}

TEST_P(FileSystemEscapes, NothingIsMadeListedOrMovedThroughALink) {
  EXPECT_NE(failed("getEntry", {{"path", "/"}, {"newPath", "/out/made.txt"}, {"create", "true"}}).find("Could not get entry: "),
            std::string::npos);
  EXPECT_NE(failed("getEntry", {{"path", "/"}, {"newPath", "/dir/up/made"}, {"create", "1"}, {"directory", "1"}})
                .find("Could not get entry: "),
            std::string::npos);
  EXPECT_EQ(failed("getEntry", {{"path", "/out"}, {"newPath", "secret.txt"}}), "Could not get entry: not found");
  EXPECT_NE(failed("readEntries", {{"path", "/out"}}).find("Could not read entries: "), std::string::npos);
  EXPECT_EQ(failed("readEntries", {{"path", "/dir/up"}}).rfind("Could not read entries: ", 0), 0u);
  makeFile("mine.txt", "mine");
  EXPECT_EQ(failed("moveTo", {{"path", "/mine.txt"}, {"parentPath", "/out"}}).rfind("Could not move entry: ", 0), 0u);
  EXPECT_EQ(failed("moveTo", {{"path", "/mine.txt"}, {"parentPath", "/out"}, {"copy", "true"}}).rfind("Could not move entry: ", 0), 0u);
  EXPECT_EQ(failed("moveTo", {{"path", "/out/secret.txt"}, {"parentPath", "/"}}), "Could not move entry: invalid state");
  EXPECT_EQ(failed("getParent", {{"path", "/out/secret.txt"}}), "Could not get parent: invalid state");
  EXPECT_EQ(contentOf(root_ / "mine.txt"), "mine");
  expectOutsideUntouched();
}

TEST_P(FileSystemEscapes, LinksAreEntriesOfTheirOwnThatCanBeListedMovedCopiedAndRemoved) {
  EXPECT_EQ(entries("/"), "/dir/ /out /secret-link");
  EXPECT_EQ(succeeded("getEntry", {{"path", "/"}, {"newPath", "out"}}), "/out");  // a link is not a folder
  EXPECT_EQ(succeeded("moveTo", {{"path", "/out"}, {"parentPath", "/dir"}, {"copy", "true"}}), "/dir/out");
  EXPECT_TRUE(fs::is_symlink(root_ / "dir/out"));
  EXPECT_EQ(succeeded("moveTo", {{"path", "/secret-link"}, {"parentPath", "/dir"}}), "/dir/secret-link");
  EXPECT_TRUE(fs::is_symlink(root_ / "dir/secret-link"));
  EXPECT_EQ(succeeded("remove", {{"path", "/out"}}), "<nothing>");
  EXPECT_EQ(succeeded("remove", {{"path", "/dir"}, {"recursively", "true"}}), "<nothing>");  // holds links to outside
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "out")));
  expectOutsideUntouched();
}

TEST_P(FileSystemEscapes, NulBytesNeverShortenAName) {
  makeFile("a", "a");
  const std::string withNul("/a\0/../b", 8);
  EXPECT_EQ(failed("read", {{"path", std::string("/a\0b", 4)}}), "Could not read: invalid state");
  EXPECT_EQ(failed("remove", {{"path", std::string("/a\0", 3)}}), "Could not remove entry: invalid state");
  EXPECT_EQ(failed("getEntry", {{"path", "/"}, {"newPath", std::string("a\0x", 3)}, {"create", "true"}}),
            "Could not get entry: Invalid argument");
  EXPECT_EQ(failed("moveTo", {{"path", "/a"}, {"parentPath", "/"}, {"newName", std::string("b\0", 2)}}),
            "Could not move entry: invalid name");
  EXPECT_EQ(succeeded("getEntry", {{"path", "/"}, {"newPath", withNul}}), "FAILED: Could not get entry: not found");
  EXPECT_EQ(contentOf(root_ / "a"), "a");
}

TEST_P(FileSystemEscapes, PipesAndOtherSpecialFilesAreNeitherOpenedNorWaitedFor) {
  ASSERT_EQ(::mkfifo((root_ / "pipe").c_str(), 0600), 0);
  // Opening a pipe without a writer would block a blocking read for ever.
  EXPECT_EQ(failed("read", {{"path", "/pipe"}}), "Could not read: not readable");
  EXPECT_EQ(failed("write", {{"path", "/pipe"}, {"data", "x"}}), "Could not write: not writable");
  EXPECT_EQ(failed("truncate", {{"path", "/pipe"}, {"size", "0"}}), "Could not truncate: not writable");
  EXPECT_EQ(succeeded("remove", {{"path", "/pipe"}}), "<nothing>");
}

TEST_P(FileSystemEscapes, ARootThatWasSwappedForALinkIsRefused) {
  fs::remove_all(root_);
  fs::create_directory_symlink(folder_ / "outside", root_);
  EXPECT_EQ(failed("read", {{"path", "/secret.txt"}}), "Could not read: invalid state");
  EXPECT_EQ(failed("readEntries", {{"path", "/"}}), "Could not read entries: invalid state");
  EXPECT_EQ(requestFileSystem("file:///app/index.html").rfind("FAILED: Unable to get file system: ", 0), 0u);
  expectOutsideUntouched();
}

TEST_P(FileSystemEscapes, NamesThatAreNotUTF8AreLeftOutOfListings) {
  makeFile("ok.txt", "");
  std::ofstream(root_ / "bad\xff.txt") << "";
  EXPECT_EQ(entries("/"), "/dir/ /ok.txt /out /secret-link");
}

TEST_P(FileSystemEscapes, NamesAndPathsAreBoundedAsTheKernelBoundsThem) {
  const std::string longest(files::kMaxNameBytes, 'n'), tooLong(files::kMaxNameBytes + 1, 'n');
  EXPECT_EQ(succeeded("getEntry", {{"path", "/"}, {"newPath", longest}, {"create", "true"}}), "/" + longest);
  EXPECT_EQ(failed("getEntry", {{"path", "/"}, {"newPath", "/dir/" + tooLong}, {"create", "true"}}),
            "Could not get entry: invalid name");
  EXPECT_EQ(failed("moveTo", {{"path", "/" + longest}, {"parentPath", "/"}, {"newName", tooLong}}),
            "Could not move entry: invalid name");

  // A path right at the bound works (made through the module: the real
  // path is longer than the kernel would take whole); one byte more does not.
  const std::string folder(files::kMaxNameBytes, 'f');
  std::string folders;
  while (files::kMaxPathBytes - folders.size() - 1 > files::kMaxNameBytes) {
    folders += "/" + folder;
    ASSERT_EQ(succeeded("getEntry", {{"path", "/"}, {"newPath", folders}, {"create", "1"}, {"directory", "1"}}),
              folders);
  }
  const std::string atBound = folders + "/" + std::string(files::kMaxPathBytes - folders.size() - 1, 'e');
  ASSERT_EQ(atBound.size(), files::kMaxPathBytes);
  EXPECT_EQ(succeeded("getEntry", {{"path", "/"}, {"newPath", atBound}, {"create", "true"}}), atBound);
  EXPECT_EQ(succeeded("write", {{"path", atBound}, {"data", "x"}}), "1");
  const std::string beyond = atBound + "x";
  EXPECT_EQ(failed("getEntry", {{"path", "/"}, {"newPath", beyond}, {"create", "true"}}),
            "Could not get entry: invalid name");
  EXPECT_EQ(failed("read", {{"path", beyond}}), "Could not read: invalid state");
  // The bound holds for the path named, wherever it is written from.
  EXPECT_EQ(failed("getEntry", {{"path", folders}, {"newPath", "e" + std::string(files::kMaxNameBytes, 'e')}}),
            "Could not get entry: invalid name");
  EXPECT_EQ(failed("moveTo", {{"path", atBound}, {"parentPath", folders}, {"newName", atBound.substr(folders.size() + 1) + "x"}}),
            "Could not move entry: invalid name");

  // A text that standardizes to a short path is still refused when the page
  // sent more than any path can be: it is not read at all.
  std::string climbing;
  while (climbing.size() <= files::kMaxPathBytes) climbing += "a/../";
  EXPECT_EQ(failed("getEntry", {{"path", "/"}, {"newPath", climbing + "x"}, {"create", "true"}}),
            "Could not get entry: invalid name");
  EXPECT_EQ(failed("remove", {{"path", "/" + climbing + longest}}), "Could not remove entry: invalid state");
  EXPECT_TRUE(fs::exists(root_ / longest));
  EXPECT_EQ(succeeded("remove", {{"path", "/" + folder}, {"recursively", "true"}}), "<nothing>");
  expectOutsideUntouched();
}

TEST_P(FileSystemEscapes, HardLinksPlantedInTheRootAreNeitherReadNorWritten) {
  fs::create_hard_link(folder_ / "outside/secret.txt", root_ / "hard.txt");
  std::vector<std::string> lines;
  log::setSink([&](log::Level, std::string_view line) { lines.emplace_back(line); });
  EXPECT_EQ(failed("read", {{"path", "/hard.txt"}}), "Could not read: not readable");
  EXPECT_EQ(failed("seek", {{"path", "/hard.txt"}}), "Could not seek: not readable");
  EXPECT_EQ(failed("write", {{"path", "/hard.txt"}, {"data", "overwritten"}}), "Could not write: not writable");
  EXPECT_EQ(failed("truncate", {{"path", "/hard.txt"}, {"size", "0"}}), "Could not truncate: not writable");
  log::setSink({});
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[0].find("refused to open /hard.txt: it has 2 hard links"), std::string::npos) << lines[0];
  expectOutsideUntouched();

  // The entry itself can be removed (only the name inside the root goes);
  // a file whose only other name went is an ordinary file again.
  fs::create_hard_link(root_ / "hard.txt", root_ / "twin.txt");
  EXPECT_EQ(succeeded("remove", {{"path", "/hard.txt"}}), "<nothing>");
  EXPECT_EQ(contentOf(folder_ / "outside/secret.txt"), "secret");
  fs::remove(root_ / "twin.txt");
  makeFile("single.txt", "mine");
  fs::create_hard_link(root_ / "single.txt", root_ / "second.txt");
  EXPECT_EQ(failed("read", {{"path", "/single.txt"}}), "Could not read: not readable");
  fs::remove(root_ / "second.txt");
  EXPECT_EQ(succeeded("read", {{"path", "/single.txt"}}), R"({ "offset" : 4, "data" : "mine"})");
}

TEST_P(FileSystemEscapes, OverlongNamesPathsAndTreesFailCleanly) {
  EXPECT_EQ(failed("getEntry", {{"path", "/"}, {"newPath", std::string(300, 'n')}, {"create", "true"}}),
            "Could not get entry: invalid name");
  std::string deepPath;
  for (int i = 0; i < 20000; ++i) deepPath += "/d";
  EXPECT_EQ(failed("getEntry", {{"path", "/"}, {"newPath", deepPath}}), "Could not get entry: invalid name");
  EXPECT_EQ(failed("read", {{"path", deepPath}}), "Could not read: invalid state");

  // A tree deeper than any path can name is refused, not walked without end.
  std::string levels = "deep";
  for (int i = 0; i < files::kMaxTreeDepth + 5; ++i) levels += "/d";
  fs::create_directories(root_ / levels);
  EXPECT_EQ(failed("moveTo", {{"path", "/deep"}, {"parentPath", "/"}, {"newName", "copy"}, {"copy", "true"}}),
            "Could not move entry: File name too long");
  EXPECT_FALSE(fs::exists(root_ / "copy"));
  EXPECT_EQ(failed("remove", {{"path", "/deep"}, {"recursively", "true"}}), "Could not remove entry: File name too long");
  EXPECT_TRUE(fs::exists(root_ / "deep"));
  fs::remove_all(root_ / "deep");
  expectOutsideUntouched();
}

}  // namespace
}  // namespace tavero::modules
