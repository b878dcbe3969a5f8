// What the file system module's tests share: a module on a fresh folder,
// run once with openat2 (where the kernel has it) and once with the
// component walk, and helpers that call an operation as the bridge would
// and read the one answer it gives.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/FileRead.h"
#include "json/JsonCodec.h"
#include "modules/RecordingCallbacks.h"
#include "modules/TQFileSystem.h"

namespace tavero::modules {

namespace fs = std::filesystem;

using FileArguments = std::vector<std::pair<std::string, std::string>>;

class FileSystemTest : public ::testing::TestWithParam<files::RootDirectory::Resolution> {
 protected:
  static constexpr int kSuccess = 21;
  static constexpr int kFailure = 22;

  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test->name();  // "Case/Walk" for parameterised tests
    std::replace(name.begin(), name.end(), '/', '-');
    folder_ = fs::temp_directory_path() / ("tavero-files-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "outside");
    module_ = std::make_unique<TQFileSystem>(callbacks_, folder_ / "file_systems", GetParam());
    id_ = requestFileSystem("file:///app/index.html");
    ASSERT_EQ(id_, "1");
    root_ = folder_ / "file_systems" / "file__0";
  }
  void TearDown() override {
    module_.reset();
    fs::remove_all(folder_);
  }

  // Runs `operation` on file system id_ as the app's page (unless
  // `arguments` names another id or "__source") and returns the deliveries
  // it made.
  std::vector<test::RecordingCallbacks::Delivery> run(const std::string& operation, FileArguments arguments) {
    auto object = std::make_shared<json::Object>();
    object->set("__source", "file:///app/index.html");
    object->set("fileSystemId", id_);
    object->set("success", std::to_string(kSuccess));
    object->set("failure", std::to_string(kFailure));
    for (auto& [key, value] : arguments) object->set(key, value);
    bridge::Invocation invocation(object);
    (*module_->operation(operation))(invocation);
    EXPECT_FALSE(invocation.result().has_value()) << operation << " answered at once";
    return callbacks_.take();
  }

  // The success value as text (a string as is, anything else as JSON), or
  // "FAILED: <message>".
  std::string succeeded(const std::string& operation, FileArguments arguments) {
    auto delivered = run(operation, std::move(arguments));
    if (delivered.size() != 1) return "<" + std::to_string(delivered.size()) + " answers>";
    if (delivered[0].id == kFailure) return "FAILED: " + text(delivered[0].value);
    return text(delivered[0].value);
  }
  // The failure message, or "SUCCEEDED: <value>".
  std::string failed(const std::string& operation, FileArguments arguments) {
    auto delivered = run(operation, std::move(arguments));
    if (delivered.size() != 1) return "<" + std::to_string(delivered.size()) + " answers>";
    if (delivered[0].id == kSuccess) return "SUCCEEDED: " + text(delivered[0].value);
    return text(delivered[0].value);
  }

  // The entries readEntries lists for `path`, sorted, folders with a
  // trailing "/": "/docs/a.txt /docs/sub/"; or "FAILED: <message>".
  std::string entries(const std::string& path) {
    auto delivered = run("readEntries", {{"path", path}});
    if (delivered.size() != 1) return "<" + std::to_string(delivered.size()) + " answers>";
    if (delivered[0].id == kFailure) return "FAILED: " + text(delivered[0].value);
    std::vector<std::string> listed;
    for (const json::Value& entry : delivered[0].value->asArray()) {
      const json::Object& object = entry.asObject();
      listed.push_back(object.find("path")->asString() + (object.find("directory")->asBool() ? "/" : ""));
    }
    std::sort(listed.begin(), listed.end());
    std::string joined;
    for (const std::string& item : listed) joined += (joined.empty() ? "" : " ") + item;
    return joined;
  }

  static std::string text(const std::optional<json::Value>& value) {
    if (!value) return "<nothing>";
    if (const std::string* string = value->ifString()) return *string;
    if (const json::Object* object = value->ifObject())
      return json::JsonCodec::jsonStringValueWithIndentLevel(*object, json::JsonCodec::jsonDoNotIndent);
    return json::JsonCodec::jsonStringForValue(*value, json::JsonCodec::jsonDoNotIndent);
  }

  std::string requestFileSystem(const std::string& source) {
    auto object = std::make_shared<json::Object>();
    object->set("__source", source);
    object->set("success", std::to_string(kSuccess));
    object->set("failure", std::to_string(kFailure));
    bridge::Invocation invocation(object);
    module_->requestFileSystem(invocation);
    auto delivered = callbacks_.take();
    if (delivered.size() != 1) return "<no answer>";
    return (delivered[0].id == kSuccess ? "" : "FAILED: ") + text(delivered[0].value);
  }

  // Files and folders made directly on disk, beneath the root.
  void makeFile(const std::string& relative, const std::string& content) {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative, std::ios::binary) << content;
  }
  void makeFolder(const std::string& relative) { fs::create_directories(root_ / relative); }
  static std::string contentOf(const fs::path& file) { return base::readFileText(file).value_or(""); }

  fs::path folder_;  // holds file_systems/ and, beside it, outside/
  fs::path root_;    // the root of file system id_
  test::RecordingCallbacks callbacks_;
  std::unique_ptr<TQFileSystem> module_;
  std::string id_;
};

inline std::string resolutionName(const ::testing::TestParamInfo<files::RootDirectory::Resolution>& info) {
  return info.param == files::RootDirectory::Resolution::walk ? "Walk" : "Openat2";
}

#define TAVERO_FILE_SYSTEM_TESTS(suite)                                                                  \
  INSTANTIATE_TEST_SUITE_P(Resolutions, suite,                                                          \
                           ::testing::Values(files::RootDirectory::Resolution::automatic,               \
                                             files::RootDirectory::Resolution::walk),                   \
                           resolutionName)

}  // namespace tavero::modules
