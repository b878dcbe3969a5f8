// File systems in the real web view: a page writes a file through the page
// client, the shell is made again on the same home, and the page reads the
// file back.
#include <fstream>
#include <iterator>

#include "base/FileRead.h"
#include "e2e/EndToEndFixture.h"

namespace tavero::app::e2e {
namespace {

using FileSystemEndToEnd = EndToEndTest;

std::string stringIn(const json::Object& verdict, const char* key) {
  const json::Value* value = verdict.find(key);
  return value && value->isString() ? value->asString() : "<none>";
}

TEST_F(FileSystemEndToEnd, APageWritesAFileAndReadsItBackAfterTheShellIsMadeAgain) {
  const std::string expected = "CAF\xc3\xa9 \xe2\x98\x95 first line\n{\"looks\": [\"like\", \"JSON\"]}\n[1, 2]\n";
  const fs::path root = platform::HomeFolders{home_}.applicationSupport() / "file_systems" / "file__0";
  {
    auto shell = makeShell("files-app");
    ASSERT_TRUE(shell->launch());
    auto verdict = waitForVerdict(*shell);
    ASSERT_TRUE(verdict) << "the page never reported";
    EXPECT_EQ(stringIn(*verdict, "phase"), "wrote") << text(*verdict);
    expectAllTrue(*verdict, {"notFound", "zeroFilled", "splitCharacter", "typeMismatch"});
    EXPECT_EQ(stringIn(*verdict, "fullPath"), "/kept/notes.txt");
    EXPECT_EQ(stringIn(*verdict, "escapedPath"), "/escape.txt");
    const json::Value* position = verdict->find("position");
    EXPECT_TRUE(position && position->toInt64() == static_cast<int64_t>(expected.size())) << text(*verdict);
    // Refused moves and copies, each done as moveTo and as copyTo.
    EXPECT_EQ(stringIn(*verdict, "refusedCodes"), "9 9 9 9 9 9 9 9 9 9") << text(*verdict);
    expectAllTrue(*verdict, {"pathExists", "errorJSON", "readNothing"});
    // Each seek shows its position at once, and the shell's answer agrees.
    EXPECT_EQ(stringIn(*verdict, "seeks"), "4 4 7 7 10 10 0 0") << text(*verdict);
    shell->terminate();
  }
  EXPECT_EQ(base::readFileText(root / "kept/notes.txt"), expected);
  EXPECT_TRUE(fs::exists(root / "escape.txt"));

  probe_ = nullptr;
  auto shell = makeShell("files-app");
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict) << "the page never reported after the restart";
  EXPECT_EQ(stringIn(*verdict, "phase"), "read") << text(*verdict);
  EXPECT_EQ(stringIn(*verdict, "text"), expected);
  EXPECT_EQ(stringIn(*verdict, "rootEntries"), "escape.txt kept/");
  expectAllTrue(*verdict, {"copied"});
  EXPECT_FALSE(fs::exists(root / "copy.txt"));
  shell->terminate();
}

// Answers in the channel's reply: a document that goes away while its read
// is under way leaves nothing behind that breaks the next one; a frame's
// read is answered in the frame, the top page's in the top page; hostile
// text comes back as text, and bytes that are not UTF-8 read as "" as
// text and exactly as an ArrayBuffer.
TEST_F(FileSystemEndToEnd, RepliesReachTheDocumentThatAskedAndCarryAnyText) {
  const fs::path root = platform::HomeFolders{home_}.applicationSupport() / "file_systems" / "file__0";
  fs::create_directories(root);
  {
    std::ofstream bytes(root / "bytes.bin", std::ios::binary);
    for (int i = 0; i < 256; ++i) bytes.put(static_cast<char>(255 - i));
  }
  auto shell = makeShell("reply-app");
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell, std::chrono::seconds(60));
  ASSERT_TRUE(verdict) << "the page never reported";
  expectAllTrue(*verdict, {"topRead", "frameRead", "untouched"});
  EXPECT_EQ(stringIn(*verdict, "notUTF8"), "") << text(*verdict);
  std::string bytes, numbers;
  for (int i = 0; i < 256; ++i) {
    bytes.push_back(static_cast<char>(255 - i));
    numbers += (i ? " " : "") + std::to_string(255 - i);
  }
  // As an ArrayBuffer the same bytes read exactly, and go back as a Blob and a typed array.
  EXPECT_EQ(stringIn(*verdict, "bytes"), numbers);
  const json::Value* copied = verdict->find("copiedLength");
  EXPECT_TRUE(copied && copied->toInt64() == 256) << text(*verdict);
  EXPECT_EQ(base::readFileText(root / "copy.bin"), bytes);
  EXPECT_EQ(shell->bridge().callbackReplies().waiting(), 0u);
  shell->terminate();
}

// File content on the native road goes as raw bytes beside the call; with
// the extension switched off the same page takes the message channel, and
// every answer must be the same on both.
class FileContentRoads : public EndToEndTest, public ::testing::WithParamInterface<bool> {
 protected:
  FileContentRoads() {
    if (!GetParam()) ::setenv("TAVERO_WEB_EXTENSION", "off", 1);
  }
  ~FileContentRoads() override { ::unsetenv("TAVERO_WEB_EXTENSION"); }
};

TEST_P(FileContentRoads, TextAndBytesComeBackExactlyWhateverTheyHold) {
  const bool native = GetParam();
  auto shell = makeShell("bytes-app");
  ASSERT_TRUE(shell->launch());
  auto verdict = waitForVerdict(*shell, std::chrono::seconds(60));
  ASSERT_TRUE(verdict) << "the page never reported";
  EXPECT_EQ(stringIn(*verdict, "error"), "<none>") << text(*verdict);
  EXPECT_EQ(stringIn(*verdict, "road"), native ? "native" : "channel");
  const json::Value* carries = verdict->find("carriesBytes");
  EXPECT_TRUE(carries && *carries == json::Value(native)) << text(*verdict);
  expectAllTrue(*verdict, {"textPosition", "emptyWrite", "textBack", "emptyRead", "positionAfterBinary", "largeBack",
                           "atEnd", "pastEnd", "bomKept"});
  EXPECT_EQ(stringIn(*verdict, "binaryBack"), "0 255 254 195 40 128 10");
  EXPECT_EQ(stringIn(*verdict, "binaryAsText"), "");
  EXPECT_EQ(stringIn(*verdict, "viewBack"), "3 4 5");
  const json::Value* gone = verdict->find("goneCode");
  EXPECT_TRUE(gone && gone->toInt64() == 7) << text(*verdict);  // INVALID_STATE_ERR
  EXPECT_EQ(stringIn(*verdict, "goneName"), "FileError");
  shell->terminate();
}

INSTANTIATE_TEST_SUITE_P(Roads, FileContentRoads, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Native" : "Channel"; });

}  // namespace
}  // namespace tavero::app::e2e
