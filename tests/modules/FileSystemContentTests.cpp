// File contents: positions, reads, writes and truncation, byte counts and
// UTF-8, failures, and concurrent writers.
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <cstring>

#include <thread>

#include "json/Base64.h"
#include "log/Log.h"
#include "modules/FileSystemFixture.h"

namespace tavero::modules {
namespace {

class FileSystemContents : public FileSystemTest {
 protected:
  // The read answer as "<offset>|<data>", or the failure.
  std::string read(const std::string& path, int64_t offset, int64_t length) {
    auto delivered = run("read", {{"path", path}, {"offset", std::to_string(offset)}, {"length", std::to_string(length)}});
    if (delivered.size() != 1) return "<no single answer>";
    if (delivered[0].id == kFailure) return "FAILED: " + text(delivered[0].value);
    const json::Object& answer = delivered[0].value->asObject();
    return std::to_string(answer.find("offset")->toInt64()) + "|" + answer.find("data")->asString();
  }
  std::string write(const std::string& path, int64_t offset, const std::string& data) {
    return succeeded("write", {{"path", path}, {"offset", std::to_string(offset)}, {"data", data}});
  }
};
TAVERO_FILE_SYSTEM_TESTS(FileSystemContents);

TEST_P(FileSystemContents, SeekClampsToTheFileAndCountsNegativeOffsetsFromTheEnd) {
  makeFile("ten", "0123456789");
  auto seek = [&](const std::string& offset) { return succeeded("seek", {{"path", "/ten"}, {"offset", offset}}); };
  EXPECT_EQ(seek("-1"), "9");
  EXPECT_EQ(seek("-20"), "0");
  EXPECT_EQ(seek("15"), "10");
  EXPECT_EQ(seek("3"), "3");
  EXPECT_EQ(seek("-9223372036854775808"), "0");
  EXPECT_EQ(seek("99999999999999999999999"), "10");  // saturates
  EXPECT_EQ(contentOf(root_ / "ten"), "0123456789");
}

TEST_P(FileSystemContents, ReadsAStretchOrToTheEndAndNothingPastIt) {
  makeFile("ten", "0123456789");
  EXPECT_EQ(read("/ten", 0, 0), "10|0123456789");
  EXPECT_EQ(read("/ten", 2, 3), "5|234");
  EXPECT_EQ(read("/ten", 7, -1), "10|789");
  EXPECT_EQ(read("/ten", 8, 100), "10|89");
  EXPECT_EQ(read("/ten", 10, 5), "10|");
  EXPECT_EQ(read("/ten", 50, 0), "10|");
  EXPECT_EQ(read("/ten", -1, 0), "10|");  // a negative offset stands past the end
  EXPECT_EQ(read("/ten", 0, (int64_t{1} << 32) + 3), "3|012");  // the low 32 bits of the length count
  EXPECT_EQ(read("/ten", 4, int64_t{1} << 32), "4|");
}

TEST_P(FileSystemContents, ReadsDecodeUTF8AndAStretchEndingInsideACharacterGivesNoText) {
  makeFile("utf8", "caf\xc3\xa9 \xe2\x98\x95");  // "café ☕": 9 bytes
  EXPECT_EQ(read("/utf8", 0, 0), "9|caf\xc3\xa9 \xe2\x98\x95");
  EXPECT_EQ(read("/utf8", 0, 4), "4|");  // ends inside é
  EXPECT_EQ(read("/utf8", 4, 0), "9|");  // begins inside it
  EXPECT_EQ(read("/utf8", 5, 0), "9| \xe2\x98\x95");
  makeFile("zeros", std::string("a\0b", 3));
  EXPECT_EQ(read("/zeros", 0, 0), std::string("3|a\0b", 5));
}

TEST_P(FileSystemContents, WritesOverwriteInPlaceAppendPastTheEndAndCountBytes) {
  makeFile("six", "abcdef");
  EXPECT_EQ(write("/six", 2, "XY"), "4");
  EXPECT_EQ(contentOf(root_ / "six"), "abXYef");
  EXPECT_EQ(write("/six", 100, "gh"), "8");
  EXPECT_EQ(write("/six", -1, "i"), "9");
  EXPECT_EQ(contentOf(root_ / "six"), "abXYefghi");
  EXPECT_EQ(write("/six", 0, "\xc3\xa9\xe2\x98\x95"), "5");  // two characters, five bytes
  EXPECT_EQ(contentOf(root_ / "six"), "\xc3\xa9\xe2\x98\x95""fghi");
  EXPECT_EQ(succeeded("write", {{"path", "/six"}, {"offset", "3"}}), "3");  // no data writes nothing
  EXPECT_EQ(contentOf(root_ / "six"), "\xc3\xa9\xe2\x98\x95""fghi");
}

TEST_P(FileSystemContents, TextThatLooksLikeJSONIsWrittenAndReadBackAsText) {
  makeFile("json", "");
  const std::string object = R"({"a": [1, 2], "b": "{"})";
  EXPECT_EQ(write("/json", 0, object), std::to_string(object.size()));
  EXPECT_EQ(write("/json", -1, "[3]"), std::to_string(object.size() + 3));
  EXPECT_EQ(read("/json", 0, 0), std::to_string(object.size() + 3) + "|" + object + "[3]");
}

// Binary contents travel as base64 both ways: any bytes, a stretch ending
// inside a UTF-8 character included; text that is not exactly base64 is
// refused before the file is touched.
TEST_P(FileSystemContents, Base64ReadsAndWritesCarryAnyBytesAndRefuseAnythingElse) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(255 - i));
  makeFile("bin", "");
  auto writeBase64 = [&](int64_t offset, const std::string& data) {
    return succeeded("write", {{"path", "/bin"}, {"offset", std::to_string(offset)}, {"data", data}, {"encoding", "base64"}});
  };
  auto readBase64 = [&](int64_t offset, int64_t length) {
    auto delivered = run("read", {{"path", "/bin"}, {"offset", std::to_string(offset)},
                                  {"length", std::to_string(length)}, {"encoding", "base64"}});
    if (delivered.size() != 1 || delivered[0].id == kFailure) return std::string("<failed>");
    const json::Object& answer = delivered[0].value->asObject();
    return std::to_string(answer.find("offset")->toInt64()) + "|" + answer.find("data")->asString();
  };
  const std::string encoded = json::ql_base64_encode(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), false);
  EXPECT_EQ(writeBase64(0, encoded), "256");
  EXPECT_EQ(contentOf(root_ / "bin"), bytes);
  EXPECT_EQ(readBase64(0, 0), "256|" + encoded);
  EXPECT_EQ(readBase64(254, 10), "256|AQA=");  // the last two bytes, 0x01 0x00
  EXPECT_EQ(writeBase64(1, "w6k="), "3");      // "é" over bytes 1 and 2
  EXPECT_EQ(readBase64(0, 2), "2|/8M=");  // 0xff, then the first byte of "é"
  EXPECT_EQ(readBase64(300, 0), "256|");

  const std::string before = contentOf(root_ / "bin");
  for (const char* bad : {"w6k", "w6k=\n", "w 6k=", "w6k=w6k=", "-_-_"}) {
    EXPECT_EQ(failed("write", {{"path", "/bin"}, {"offset", "0"}, {"data", bad}, {"encoding", "base64"}}),
              "Refused: data is not base64")
        << bad;
  }
  EXPECT_EQ(failed("write", {{"path", "/bin"}, {"data", "x"}, {"encoding", "utf-16"}}),
            "Refused: encoding must be \"base64\" or absent");
  EXPECT_EQ(failed("read", {{"path", "/bin"}, {"encoding", "hex"}}), "Refused: encoding must be \"base64\" or absent");
  EXPECT_EQ(contentOf(root_ / "bin"), before);
}

TEST_P(FileSystemContents, TruncateCutsOrExtendsWithZerosAndKeepsThePositionInside) {
  makeFile("ten", "0123456789");
  EXPECT_EQ(succeeded("truncate", {{"path", "/ten"}, {"offset", "5"}, {"size", "3"}}), "3");
  EXPECT_EQ(contentOf(root_ / "ten"), "012");
  EXPECT_EQ(succeeded("truncate", {{"path", "/ten"}, {"offset", "2"}, {"size", "6"}}), "2");
  EXPECT_EQ(contentOf(root_ / "ten"), std::string("012\0\0\0", 6));
  EXPECT_EQ(succeeded("truncate", {{"path", "/ten"}, {"offset", "-1"}, {"size", "4"}}), "4");
  // A negative size is refused as such, before the file is touched.
  EXPECT_EQ(failed("truncate", {{"path", "/ten"}, {"offset", "0"}, {"size", "-1"}}), "Refused: size must be 0 or more");
  EXPECT_EQ(contentOf(root_ / "ten"), std::string("012\0", 4));
}

TEST_P(FileSystemContents, FoldersAndMissingFilesAreRefusedWithTheirOwnMessages) {
  makeFolder("folder");
  EXPECT_EQ(failed("seek", {{"path", "/folder"}}), "Could not seek: not readable");
  EXPECT_EQ(failed("read", {{"path", "/folder"}}), "Could not read: not readable");
  EXPECT_EQ(failed("write", {{"path", "/folder"}, {"data", "x"}}), "Could not write: not writable");
  EXPECT_EQ(failed("truncate", {{"path", "/folder"}, {"size", "1"}}), "Could not truncate: not writable");
  EXPECT_EQ(failed("seek", {{"path", "/none"}}), "Could not seek: invalid state");
  EXPECT_EQ(failed("read", {{"path", "none"}}), "Could not read: invalid state");
  EXPECT_EQ(failed("write", {{"path", "/none"}, {"data", "x"}}), "Could not write: invalid state");
  EXPECT_EQ(failed("truncate", {{"path", ""}}), "Could not truncate: invalid state");
  EXPECT_FALSE(fs::exists(root_ / "none"));
}

TEST_P(FileSystemContents, AWriteTheSystemCannotFinishFailsAndIsLogged) {
  makeFile("big", "");
  std::vector<std::string> warnings;
  std::mutex mutex;
  log::setSink([&](log::Level level, std::string_view line) {
    std::lock_guard lock(mutex);
    if (level == log::Level::Warning) warnings.emplace_back(line);
  });
  // A file size limit makes the system stop the write half way, as a full
  // disk would.
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &previous);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit limited = saved;
  limited.rlim_cur = 4096;
  ::setrlimit(RLIMIT_FSIZE, &limited);
  std::string answer = failed("write", {{"path", "/big"}, {"offset", "0"}, {"data", std::string(10000, 'x')}});
  std::string extended = failed("truncate", {{"path", "/big"}, {"offset", "0"}, {"size", "10000"}});
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &previous, nullptr);
  log::setSink({});

  EXPECT_EQ(answer, "Could not write: not writable");
  EXPECT_EQ(extended, "Could not truncate: not writable");
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[0].find("File too large"), std::string::npos) << warnings[0];
}

// A small file system mounted inside the root fills up during the write.
// Mounting needs root; elsewhere the test is skipped.
TEST_P(FileSystemContents, AWriteToAFullDiskFailsAsQuotaExceededWithTheSystemsReason) {
  makeFolder("full");
  const fs::path mountPoint = root_ / "full";
  if (::mount("tavero-test", mountPoint.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=16k") != 0)
    GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
  struct Unmount {
    fs::path point;
    ~Unmount() { ::umount2(point.c_str(), MNT_DETACH); }
  } unmount{mountPoint};
  std::ofstream(mountPoint / "big", std::ios::binary) << "";
  log::setSink([](log::Level, std::string_view) {});
  std::string answer = failed("write", {{"path", "/full/big"}, {"offset", "0"}, {"data", std::string(200000, 'x')}});
  log::setSink({});
  EXPECT_EQ(answer, "Could not write: No space left on device");
  // What fitted before the disk was full stays (a write is not undone).
  EXPECT_GT(fs::file_size(mountPoint / "big"), 0u);
  EXPECT_LT(fs::file_size(mountPoint / "big"), 200000u);
}

TEST_P(FileSystemContents, ConcurrentWritesToOneFileNeverInterleave) {
  makeFile("shared", "");
  constexpr int kWriters = 8;
  constexpr size_t kBlock = 256 * 1024;
  std::vector<std::thread> writers;
  for (int i = 0; i < kWriters; ++i)
    writers.emplace_back([&, i] {
      // Each appends one block of its own letter (a negative offset stands
      // past the end).
      auto object = std::make_shared<json::Object>();
      object->set("__source", "file:///app/index.html");
      object->set("fileSystemId", id_);
      object->set("path", "/shared");
      object->set("offset", "-1");
      object->set("data", std::string(kBlock, static_cast<char>('a' + i)));
      bridge::Invocation invocation(object);
      module_->write(invocation);
    });
  for (auto& writer : writers) writer.join();
  EXPECT_EQ(callbacks_.take().size(), static_cast<size_t>(kWriters));
  std::string content = contentOf(root_ / "shared");
  ASSERT_EQ(content.size(), kWriters * kBlock);
  std::string letters;
  for (size_t block = 0; block < kWriters; ++block) {
    char letter = content[block * kBlock];
    EXPECT_EQ(content.compare(block * kBlock, kBlock, std::string(kBlock, letter)), 0) << "block " << block << " is mixed";
    letters += letter;
  }
  std::sort(letters.begin(), letters.end());
  EXPECT_EQ(letters, "abcdefgh");
}

TEST_P(FileSystemContents, ConcurrentRequestsForFileSystemsGetDistinctIds) {
  constexpr int kRequests = 16;
  std::vector<std::thread> threads;
  for (int i = 0; i < kRequests; ++i)
    threads.emplace_back([&] {
      auto object = std::make_shared<json::Object>();
      object->set("__source", "file:///app/index.html");
      bridge::Invocation invocation(object);
      module_->requestFileSystem(invocation);
    });
  for (auto& thread : threads) thread.join();
  for (int id = 2; id <= kRequests + 1; ++id) EXPECT_TRUE(module_->rootOf(std::to_string(id))) << id;
  EXPECT_FALSE(module_->rootOf(std::to_string(kRequests + 2)));
}

}  // namespace
}  // namespace tavero::modules
