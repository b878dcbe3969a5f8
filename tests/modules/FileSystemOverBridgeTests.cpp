// The file system module as pages reach it: percent-encoded GETs through
// the bridge, answers by callback script. Encoded separators and text that
// looks like JSON arrive as the page's text.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/FileRead.h"
#include "bridge/QLTaveroBridge.h"
#include "modules/RecordedScripts.h"
#include "modules/TQFileSystem.h"
#include "support/LoopbackClient.h"

namespace tavero::modules {
namespace {

namespace fs = std::filesystem;

class FileSystemOverBridge : public ::testing::Test {
 protected:
  FileSystemOverBridge() {
    folder_ = fs::temp_directory_path() / ("tavero-files-bridge-" + std::to_string(::getpid()));
    fs::remove_all(folder_);
    modules_.add("TQFileSystem", [this] { return std::make_unique<TQFileSystem>(scripts_.delivery(), folder_); });
    bridge_ = std::make_unique<bridge::QLTaveroBridge>(modules_, 0);
  }
  ~FileSystemOverBridge() override {
    bridge_.reset();
    fs::remove_all(folder_);
  }

  // Sends a queued FileSystem command from the app's page (unless `query`
  // names another "__source", as pages do) and returns the callback script
  // it caused (success id 1, failure id 2).
  std::string call(const std::string& operation, const std::string& query) {
    testing::LoopbackClient client(bridge_->port());
    const std::string source = query.find("__source=") == std::string::npos ? kAppPage : "";
    client.send(testing::getRequest("/?command=FileSystem%23" + operation + "&success=1&failure=2&" + source + query,
                                    bridge_->port()));
    auto answer = client.readAnswer();
    if (!answer || answer->status != 200) return "<status " + std::to_string(answer ? answer->status : 0) + ">";
    return scripts_.next("<no callback>");
  }
  fs::path root() const { return folder_ / "file__0"; }

  static constexpr const char* kAppPage = "__source=file%3A%2F%2F%2Fapp%2Findex.html&";

  fs::path folder_;
  test::RecordedScripts scripts_;
  bridge::ModuleRegistry modules_;
  std::unique_ptr<bridge::QLTaveroBridge> bridge_;
};

TEST_F(FileSystemOverBridge, EncodedAndDoubledSeparatorsStayInsideTheRoot) {
  EXPECT_EQ(call("requestFileSystem", "__source=file%3A%2F%2F%2Fapp%2Findex.html"),
            "Kio.device.Communicator.invoke('1', [\"1\"])");
  EXPECT_EQ(call("getEntry", "fileSystemId=1&path=%2F&newPath=..%2F..%2F..%2Fescape.txt&create=true"),
            "Kio.device.Communicator.invoke('1', [\"\\/escape.txt\"])");
  EXPECT_EQ(call("getEntry", "fileSystemId=1&path=%2F%2F&newPath=%2F%2Fa%2F%2F&create=true&directory=true"),
            "Kio.device.Communicator.invoke('1', [\"\\/a\"])");
  EXPECT_EQ(call("getEntry", "fileSystemId=1&path=%2F&newPath=..%252F..%252Fb&create=true"),
            "Kio.device.Communicator.invoke('1', [\"\\/..%2F..%2Fb\"])");
  EXPECT_TRUE(fs::exists(root() / "escape.txt"));
  EXPECT_TRUE(fs::is_directory(root() / "a"));
  EXPECT_TRUE(fs::exists(root() / "..%2F..%2Fb"));
  EXPECT_FALSE(fs::exists(folder_.parent_path() / "escape.txt"));
}

TEST_F(FileSystemOverBridge, DataAndPathsThatLookLikeJSONAreThePagesText) {
  call("requestFileSystem", "__source=file%3A%2F%2F%2Fapp%2Findex.html");
  EXPECT_EQ(call("getEntry", "fileSystemId=1&path=%2F&newPath=%5B1%5D.txt&create=true"),
            "Kio.device.Communicator.invoke('1', [\"\\/[1].txt\"])");
  EXPECT_EQ(call("getEntry", "fileSystemId=1&path=%2F&newPath=%7Bnot%20json&create=true"),
            "Kio.device.Communicator.invoke('1', [\"\\/{not json\"])");
  // {"a": [1]} then [2 (not JSON at all).
  EXPECT_EQ(call("write", "fileSystemId=1&path=%2F%5B1%5D.txt&offset=0&data=%7B%22a%22%3A%20%5B1%5D%7D"),
            "Kio.device.Communicator.invoke('1', [10])");
  EXPECT_EQ(call("write", "fileSystemId=1&path=%2F%5B1%5D.txt&offset=10&data=%5B2"),
            "Kio.device.Communicator.invoke('1', [12])");
  EXPECT_EQ(base::readFileText(root() / "[1].txt"), "{\"a\": [1]}[2");
  EXPECT_EQ(call("read", "fileSystemId=1&path=%2F%5B1%5D.txt&offset=0&length=0"),
            "Kio.device.Communicator.invoke('1', [{\n\t \"offset\" : 12,\n\t \"data\" : \"{\\\"a\\\": [1]}[2\"}])");
  EXPECT_EQ(call("moveTo", "fileSystemId=1&path=%2F%5B1%5D.txt&parentPath=%2F&newName=%7B%22b%22%3A2%7D"),
            "Kio.device.Communicator.invoke('1', [\"\\/{\\\"b\\\":2}\"])");
}

}  // namespace
}  // namespace tavero::modules
