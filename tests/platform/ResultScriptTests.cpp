// How a script run for its result is wrapped (expression or function body,
// chosen by its syntax; the bundle check first) and how the page's answer
// is read.
#include <gtest/gtest.h>

#include "platform/linux/ResultScript.h"

namespace tavero::platform {
namespace {

std::string bodyOf(const std::string& script, const std::string& check = "") {
  auto body = ResultScript::functionBody(script, check, 100);
  if (auto* invalid = std::get_if<ScriptResult>(&body)) return "invalid: " + invalid->text;
  return std::get<std::string>(body);
}

TEST(ResultScript, AnExpressionIsReturnedAndStatementsAreAFunctionBodyAndNeitherIsRefusedBeforeRunning) {
  EXPECT_NE(bodyOf("document.title").find("return (\ndocument.title\n);"), std::string::npos);
  EXPECT_NE(bodyOf("{a: 1}").find("return (\n{a: 1}\n);"), std::string::npos);  // an object, not a block
  std::string statements = bodyOf("const n = 2; return n * 3");
  EXPECT_NE(statements.find("const n = 2; return n * 3"), std::string::npos);
  EXPECT_EQ(statements.find("return (\nconst"), std::string::npos);
  EXPECT_TRUE(bodyOf("1 +").starts_with("invalid: ")) << bodyOf("1 +");

  // The bundle check comes first, before the script and its value are touched.
  std::string gated = bodyOf("document.title", "window.key === 'k'");
  EXPECT_TRUE(gated.starts_with("if (!(window.key === 'k')) return 'N';")) << gated;
  EXPECT_LT(gated.find("window.key"), gated.find("document.title"));
  EXPECT_NE(gated.find("text.length > 100"), std::string::npos);  // refused in the page, before it is sent
}

TEST(ResultScript, ThePagesAnswerSaysWhatItIs) {
  auto value = ResultScript::answer("V{\"a\":1}", 100, "file:///app/index.html");
  EXPECT_EQ(value.kind, ScriptResult::Kind::Value);
  EXPECT_EQ(value.text, "{\"a\":1}");
  auto refused = ResultScript::answer("N", 100, "https://example.com/?q=secret");
  EXPECT_EQ(refused.kind, ScriptResult::Kind::Unavailable);
  EXPECT_NE(refused.text.find("not the app's (https://example.com/"), std::string::npos) << refused.text;
  EXPECT_EQ(refused.text.find("secret"), std::string::npos);  // no query in messages
  EXPECT_NE(ResultScript::answer("L5000", 100, "").text.find("5000 characters"), std::string::npos);
  EXPECT_EQ(ResultScript::answer("V" + std::string(101, '1'), 100, "").kind, ScriptResult::Kind::Unavailable);
  EXPECT_EQ(ResultScript::answer("", 100, "").kind, ScriptResult::Kind::Unavailable);
  EXPECT_EQ(ResultScript::answer("Xsomething", 100, "").kind, ScriptResult::Kind::Unavailable);
}

}  // namespace
}  // namespace tavero::platform
