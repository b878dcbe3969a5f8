// The promise forms of the page API in the real web view (api-app): each
// resolves with its result or rejects with an Error that has a code and a
// message, options out of range are refused, alert titles keep their
// commas, and a rejection nobody handles reaches the log on one line. The
// test plays the device through the same commands as `tavero device`.
#include "e2e/EndToEndFixture.h"
#include "support/CapturedLog.h"

namespace tavero::app::e2e {
namespace {

class PageAPIEndToEnd : public EndToEndTest {
 protected:
  // Serves the main loop until the page waits in `step`; its state then.
  std::optional<json::Object> waitForStep(ShellApplication& shell, const std::string& step) {
    std::optional<json::Object> state;
    bool reached = serveUntil(shell, [&] {
      state = probe_ ? probe_->verdict() : std::nullopt;
      const json::Value* at = state ? state->find("step") : nullptr;
      return at && (*at == json::Value(step) || *at == json::Value("failed"));
    });
    EXPECT_TRUE(reached && *state->find("step") == json::Value(step))
        << "waiting for " << step << "; the page: " << (state ? text(*state) : std::string("nothing"));
    return reached ? state : std::nullopt;
  }

  static std::string pickerStatus(ShellApplication& shell) {
    auto answer = shell.controlCommands().run({"picker", "status"});
    return answer.ok() && answer.value().isString() ? answer.value().asString() : "";
  }

  // The field `key` of the object the page recorded under `record`.
  static json::Value fieldOf(const json::Object& state, const char* record, const char* key) {
    const json::Value* object = state.find(record);
    if (!object || !object->isObject()) return json::Value("<no " + std::string(record) + ">");
    const json::Value* value = object->asObject().find(key);
    return value ? *value : json::Value("<no " + std::string(key) + ">");
  }
};

TEST_F(PageAPIEndToEnd, PromisesResolveWithResultsRejectWithCodedErrorsAndOutOfRangeOptionsAreRefused) {
  setenv("GSETTINGS_BACKEND", "memory", 1);  // the file chooser keeps its settings; no session bus here
  testing::CapturedLog log;
  auto shell = makeShell("api-app");
  ASSERT_TRUE(shell->launch());

  auto state = waitForStep(*shell, "camera-cancel");
  ASSERT_TRUE(state);
  // sourceType 99 never opened a picker: refused in the page with a
  // RangeError, and by the shell for a page that goes round the client.
  EXPECT_EQ(fieldOf(*state, "rangeError", "type"), json::Value("RangeError")) << text(*state);
  EXPECT_EQ(fieldOf(*state, "rangeError", "code").toDouble(), 1001);
  EXPECT_EQ(fieldOf(*state, "rangeError", "message"),
            json::Value("camera.getPicture: sourceType must be 0 (PHOTOLIBRARY), 1 (CAMERA) or 2 (SAVEDPHOTOALBUM), "
                        "not the number 99"));
  EXPECT_EQ(fieldOf(*state, "positionRangeError", "type"), json::Value("RangeError")) << text(*state);
  EXPECT_EQ(state->find("errorJSON")->asString(), R"([{"code":5,"message":"x"},{"code":1001,"message":"y"}])");
  EXPECT_EQ(*state->find("shellRefusal"),
            json::Value("Refused: source must be 0 (photo library), 1 (camera) or 2 (saved photos album), not \"99\""));

  ASSERT_TRUE(serveUntil(*shell, [&] { return pickerStatus(*shell) == "library"; }));
  EXPECT_EQ(device(*shell, {"picker", "cancel"}).exitStatus, 0);
  state = waitForStep(*shell, "camera-shot");
  ASSERT_TRUE(state);
  EXPECT_EQ(fieldOf(*state, "cancelled", "isError"), json::Value(true)) << text(*state);
  EXPECT_EQ(fieldOf(*state, "cancelled", "name"), json::Value("CameraError"));
  EXPECT_EQ(fieldOf(*state, "cancelled", "code").toDouble(), 1);
  EXPECT_EQ(fieldOf(*state, "cancelled", "message"), json::Value("User has canceled operation"));

  ASSERT_TRUE(serveUntil(*shell, [&] { return pickerStatus(*shell) == "camera"; }));
  EXPECT_EQ(device(*shell, {"picker", "pick"}).exitStatus, 0);
  state = waitForStep(*shell, "position");
  ASSERT_TRUE(state);
  const json::Value* picture = state->find("picture");
  ASSERT_TRUE(picture && picture->isString()) << text(*state);
  EXPECT_EQ(fs::path(picture->asString()).parent_path(), home_ / "Documents");
  EXPECT_TRUE(fs::is_regular_file(picture->asString()));

  ASSERT_TRUE(shell->controlCommands().run({"geo", "fix", "48.5", "2.25"}).ok());
  state = waitForStep(*shell, "choose");
  ASSERT_TRUE(state);
  EXPECT_EQ(state->find("latitude")->toDouble(), 48.5) << text(*state);

  ASSERT_TRUE(serveUntil(*shell, [&] {
    auto open = shell->controlCommands().run({"alert", "list"});
    return open.ok() && !open.value().asArray().empty();
  }));
  CommandOutput list = device(*shell, {"alert", "list"});
  EXPECT_NE(list.out.find("[\"OK, fine\"]"), std::string::npos) << list.out;  // one button, comma kept
  EXPECT_EQ(device(*shell, {"alert", "press", "1"}).exitStatus, 1);           // there is no second one
  EXPECT_EQ(device(*shell, {"alert", "press", "0"}).exitStatus, 0);
  state = waitForStep(*shell, "alert");
  ASSERT_TRUE(state);
  EXPECT_EQ(fieldOf(*state, "chosen", "index").toDouble(), 0) << text(*state);
  EXPECT_EQ(fieldOf(*state, "chosen", "title"), json::Value("OK, fine"));

  ASSERT_TRUE(serveUntil(*shell, [&] {
    auto open = shell->controlCommands().run({"alert", "list"});
    return open.ok() && !open.value().asArray().empty();
  }));
  EXPECT_EQ(device(*shell, {"alert", "press", "1"}).exitStatus, 0);
  state = waitForStep(*shell, "done");
  ASSERT_TRUE(state);
  EXPECT_EQ(*state->find("alerted"), json::Value("delete, all")) << text(*state);  // alert() as it always answered
  EXPECT_EQ(fieldOf(*state, "missingFile", "isError"), json::Value(true)) << text(*state);
  EXPECT_EQ(fieldOf(*state, "missingFile", "name"), json::Value("FileError"));
  EXPECT_EQ(fieldOf(*state, "missingFile", "code").toDouble(), 1);  // NOT_FOUND_ERR
  EXPECT_NE(fieldOf(*state, "missingFile", "message").asString().find("not found"), std::string::npos);

  EXPECT_EQ(*state->find("committed"), json::Value(true)) << text(*state);
  EXPECT_EQ(fieldOf(*state, "sqlRejection", "name"), json::Value("SQLError")) << text(*state);
  EXPECT_EQ(fieldOf(*state, "sqlRejection", "code").toDouble(), 5);  // SYNTAX_ERR
  EXPECT_EQ(fieldOf(*state, "sqlRejection", "sameAsCallback"), json::Value(true));

  // The rejection nobody handled: one line of the page's, its line break escaped.
  ASSERT_TRUE(serveUntil(*shell, [&] { return log.has("unhandled rejection"); }, std::chrono::seconds(5)))
      << log.all();
  ASSERT_FALSE(log.containing("forged").empty()) << log.all();
  for (const auto& line : log.containing("forged")) {
    EXPECT_EQ(line.rfind("[index.html] unhandled rejection TaveroError: left alone", 0), 0u) << line;
    EXPECT_NE(line.find("(code 7)"), std::string::npos) << line;
  }
  shell->terminate();
}

}  // namespace
}  // namespace tavero::app::e2e
