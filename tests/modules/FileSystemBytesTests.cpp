// The file system module's bytes operations, which the native road uses to
// carry file content as raw bytes: the same positions and failures as the
// text reads and writes, any bytes, and no way out of the caller's root.
#include "modules/FileSystemFixture.h"

namespace tavero::modules {
namespace {

class FileSystemBytes : public FileSystemTest {
 protected:
  // Runs a bytes operation as `source`'s page; "<offset>|<bytes>" or
  // "FAILED: <message>". No callback may be answered.
  std::string bytesCall(const std::string& operation, FileArguments arguments, std::string_view bytes = {},
                        const std::string& source = "file:///app/index.html") {
    auto object = std::make_shared<json::Object>();
    object->set("__source", source);
    object->set("fileSystemId", id_);
    for (auto& [key, value] : arguments) object->set(key, value);
    bridge::Invocation invocation(object);
    bridge::TQW3CAction::BytesAnswer answer = (*module_->bytesOperation(operation))(invocation, bytes);
    EXPECT_TRUE(callbacks_.take().empty()) << operation << " answered through a callback";
    const json::Object& value = answer.value.asObject();
    if (const json::Value* error = value.find("error")) {
      EXPECT_TRUE(answer.bytes.empty());
      return "FAILED: " + error->asString();
    }
    return std::to_string(value.find("offset")->toInt64()) + "|" + answer.bytes;
  }
  std::string write(const std::string& path, int64_t offset, std::string_view bytes) {
    return bytesCall("write", {{"path", path}, {"offset", std::to_string(offset)}}, bytes);
  }
  std::string read(const std::string& path, int64_t offset, int64_t length) {
    return bytesCall("read", {{"path", path}, {"offset", std::to_string(offset)}, {"length", std::to_string(length)}});
  }
};
TAVERO_FILE_SYSTEM_TESTS(FileSystemBytes);

TEST_P(FileSystemBytes, AnyBytesAreWrittenAndReadBackAtTheirPositions) {
  makeFile("data.bin", "");
  const std::string binary("\0\xff\xfe\xc3(\x80", 6);  // NUL and bytes that are no UTF-8
  EXPECT_EQ(write("/data.bin", 0, binary), "6|");
  EXPECT_EQ(write("/data.bin", 6, ""), "6|");  // an empty write moves nothing
  EXPECT_EQ(write("/data.bin", 2, "AB"), "4|");  // over what is there
  EXPECT_EQ(write("/data.bin", 100, "end"), "9|");  // past the end: appended
  EXPECT_EQ(contentOf(root_ / "data.bin"), std::string("\0\xff" "AB(\x80" "end", 9));
  EXPECT_EQ(read("/data.bin", 0, 9), "9|" + std::string("\0\xff" "AB(\x80" "end", 9));
  EXPECT_EQ(read("/data.bin", 1, 1), "2|\xff");  // a stretch inside a character is given as it is
  EXPECT_EQ(read("/data.bin", 8, 100), "9|d");
  EXPECT_EQ(read("/data.bin", 50, 4), "9|");
  // A length is needed, and at most what one frame carries: nothing is read otherwise.
  const std::string refused = "FAILED: Refused: a bytes read takes a length from 1 to 16777216 bytes";
  EXPECT_EQ(read("/data.bin", 0, 0), refused);
  EXPECT_EQ(read("/data.bin", 0, -1), refused);
  EXPECT_EQ(read("/data.bin", 0, (int64_t{1} << 32) + 2), refused);
  EXPECT_EQ(read("/data.bin", 0, TQFileSystem::kMaxBytesPiece + 1), refused);
  EXPECT_EQ(read("/data.bin", 8, TQFileSystem::kMaxBytesPiece), "9|d");

  const std::string large(200 * 1024, 'z');  // more than one 64 KiB piece
  EXPECT_EQ(write("/data.bin", 9, large), std::to_string(9 + large.size()) + "|");
  EXPECT_EQ(read("/data.bin", 9, static_cast<int64_t>(large.size())), std::to_string(9 + large.size()) + "|" + large);
}

TEST_P(FileSystemBytes, FailuresSayWhatTheTextOperationsSayAndOtherOriginsGetNothing) {
  makeFile("file", "mine");
  makeFolder("folder");
  EXPECT_EQ(read("/missing", 0, 1), "FAILED: Could not read: invalid state");
  EXPECT_EQ(write("/missing", 0, "x"), "FAILED: Could not write: invalid state");
  EXPECT_EQ(read("relative", 0, 1), "FAILED: Could not read: invalid state");
  EXPECT_EQ(read("/folder", 0, 1), "FAILED: Could not read: not readable");
  EXPECT_EQ(write("/folder", 0, "x"), "FAILED: Could not write: not writable");
  // Another origin presenting this id, and an id never handed out, are
  // answered alike, and nothing is read or written.
  EXPECT_EQ(bytesCall("read", {{"path", "/file"}, {"offset", "0"}, {"length", "4"}}, {}, "https://evil.example/"),
            "FAILED: Could not read: invalid state");
  EXPECT_EQ(bytesCall("write", {{"path", "/file"}, {"offset", "0"}}, "x", "https://evil.example/"),
            "FAILED: Could not write: invalid state");
  EXPECT_EQ(bytesCall("write", {{"path", "/file"}, {"offset", "0"}, {"fileSystemId", "99"}}, "x"),
            "FAILED: Could not write: invalid state");
  EXPECT_EQ(contentOf(root_ / "file"), "mine");
}

TEST_P(FileSystemBytes, NothingOutsideTheRootIsReadOrWritten) {
  std::ofstream(folder_ / "outside/secret.txt") << "secret";
  fs::create_symlink(folder_ / "outside/secret.txt", root_ / "secret-link");
  fs::create_directory_symlink(folder_ / "outside", root_ / "out");
  for (const std::string path : {"/../outside/secret.txt", "/../../outside/secret.txt", "/secret-link",
                                 "/out/secret.txt"}) {
    EXPECT_EQ(read(path, 0, 6).rfind("FAILED: Could not read: ", 0), 0u) << path;
    EXPECT_EQ(write(path, 0, "stolen").rfind("FAILED: Could not write: ", 0), 0u) << path;
  }
  EXPECT_EQ(contentOf(folder_ / "outside/secret.txt"), "secret");
}

}  // namespace
}  // namespace tavero::modules
