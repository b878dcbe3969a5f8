// A TQSQLite in a fresh folder, called as the bridge would call it, with
// helpers for the calls tests make over and over.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "json/JsonCodec.h"
#include "modules/RecordingCallbacks.h"
#include "modules/TQSQLite.h"

namespace tavero::modules {

namespace fs = std::filesystem;

using test::RecordingCallbacks;

using Arguments = std::vector<std::pair<std::string, json::Value>>;

class SQLite : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = fs::temp_directory_path() /
              ("tavero-sql-" + std::to_string(::getpid()) + "-" + test->test_suite_name() + "-" + test->name());
    fs::remove_all(folder_);
    sqlite_ = std::make_unique<TQSQLite>(callbacks_, folder_, options());
  }
  // The module's options; fixtures may change them.
  virtual TQSQLite::Options options() { return {}; }
  void TearDown() override {
    sqlite_.reset();
    fs::remove_all(folder_);
  }

  // Runs one operation as the bridge would; returns its answer at once. The
  // caller is the app's page unless the arguments name another "__source".
  std::optional<json::Value> call(const std::string& operation, Arguments arguments) {
    auto object = std::make_shared<json::Object>();
    object->set("__source", json::Value("file:///app/index.html"));
    for (auto& [key, value] : arguments) object->set(key, value);
    bridge::Invocation invocation(object);
    (*sqlite_->operation(operation))(invocation);
    return invocation.result();
  }
  // One-line text of an answer.
  static std::string text(const std::optional<json::Value>& value) {
    if (!value) return "<none>";
    if (const json::Object* object = value->ifObject())
      return json::JsonCodec::jsonStringValueWithIndentLevel(*object, json::JsonCodec::jsonDoNotIndent);
    return json::JsonCodec::jsonStringForValue(*value);
  }
  static std::string field(const std::optional<json::Value>& value, const char* key) {
    const json::Value* v = value && value->isObject() ? value->asObject().find(key) : nullptr;
    return v && v->isString() ? v->asString() : "<none>";
  }

  std::optional<json::Value> open(const std::string& name, Arguments extra = {},
                                  const std::string& source = "file:///app/index.html") {
    Arguments arguments = {{"name", name}, {"__source", source}, {"displayName", name}, {"estimatedSize", "1000"}};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return call("openDatabase", arguments);
  }
  std::string transaction(const std::string& databaseId, bool readOnly = false,
                          const std::string& source = "file:///app/index.html") {
    call("createTransaction", {{"databaseId", databaseId}, {"readOnly", readOnly ? "true" : "false"},
                               {"success", "11"}, {"failure", "12"}, {"__source", source}});
    auto delivered = callbacks_.take();
    if (delivered.size() != 1 || delivered[0].id != 11) return "<failed: " + text(delivered.empty() ? std::nullopt : delivered[0].value) + ">";
    return delivered[0].value->asString();
  }
  std::optional<json::Value> run(const std::string& transactionId, const std::string& sql,
                                 std::optional<json::Array> arguments = std::nullopt,
                                 const std::string& databaseId = "1") {
    Arguments a = {{"transactionId", transactionId}, {"databaseId", databaseId}, {"sqlStatement", sql}};
    if (arguments) a.emplace_back("arguments", *arguments);
    return call("executeStatement", a);
  }

  std::optional<json::Value> begin(const std::string& transactionId) {
    return call("beginTransaction", {{"transactionId", transactionId}});
  }
  std::optional<json::Value> commit(const std::string& transactionId) {
    return call("commitTransaction", {{"transactionId", transactionId}});
  }
  std::optional<json::Value> rollback(const std::string& transactionId) {
    return call("rollbackTransaction", {{"transactionId", transactionId}});
  }
  // The rows of an answer, as JSON text.
  static std::string rows(const std::optional<json::Value>& answer) {
    const json::Value* value = answer && answer->isObject() ? answer->asObject().find("rows") : nullptr;
    return value ? json::JsonCodec::jsonStringForValue(*value) : "<no rows: " + text(answer) + ">";
  }

  fs::path folder_;
  RecordingCallbacks callbacks_;
  std::unique_ptr<TQSQLite> sqlite_;
};

}  // namespace tavero::modules
