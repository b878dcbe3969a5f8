// The page commands with a recording web view and manual timers: what they
// ask of the page, how they answer its results, and their bounds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "app/PageCommands.h"
#include "base/FileRead.h"
#include "support/ManualTimers.h"
#include "support/RecordingWebView.h"

namespace tavero::app {
namespace {

namespace fs = std::filesystem;
using platform::ScriptResult;
using Kind = platform::ScriptResult::Kind;

class PageCommandsTest : public ::testing::Test {
 protected:
  PageCommandsTest() {
    pages_.addControlCommands(commands_);
  }

  // Runs the command and returns its answer when it has come ("pending"
  // when it has not), errors as "error: ...".
  std::string run(std::vector<std::string> words) {
    answer_.reset();
    commands_.execute(std::move(words), [this](control::ControlAnswer a) { answer_ = std::move(a); });
    return answerText();
  }
  std::string answerText() const {
    if (!answer_) return "pending";
    if (!answer_->ok()) return "error: " + answer_->errorMessage();
    return answer_->value().isString() ? answer_->value().asString() : "(not text)";
  }
  // Answers the oldest evaluation the page was asked for.
  void pageAnswers(testing::RecordingWebView& view, Kind kind, std::string text) {
    ASSERT_FALSE(view.pendingEvaluations.empty());
    auto evaluation = std::move(view.pendingEvaluations.front());
    view.pendingEvaluations.erase(view.pendingEvaluations.begin());
    evaluation.done({kind, std::move(text)});
  }
  platform::WebView* find(const std::string& name) {
    if (name.empty()) return &start_;
    return name == "other.html" ? &other_ : nullptr;
  }

  testing::RecordingWebView start_{"index.html"}, other_{"other.html"};
  testing::ManualTimers timers_;
  std::function<void(platform::Snapshot)> windowSnapshot_;
  PageCommands pages_{[this](const std::string& name) { return find(name); },
                      [this](std::function<void(platform::Snapshot)> done) { windowSnapshot_ = std::move(done); },
                      timers_,
                      PageCommands::Limits{.maxResultLength = 100,
                                           .evaluationTimeout = std::chrono::seconds(5),
                                           .defaultWait = std::chrono::milliseconds(300),
                                           .longestWait = std::chrono::seconds(2),
                                           .pollInterval = std::chrono::milliseconds(50)}};
  control::ControlCommandRegistry commands_{nullptr};
  std::optional<control::ControlAnswer> answer_;
};

TEST_F(PageCommandsTest, EvalRunsTheWholeScriptInTheChosenPageWithItsLimitsAndAnswersItsResult) {
  EXPECT_EQ(run({"page", "eval", "document.title", "+", "'!'"}), "pending");
  ASSERT_EQ(start_.pendingEvaluations.size(), 1u);
  EXPECT_EQ(start_.pendingEvaluations[0].script, "document.title + '!'");
  EXPECT_EQ(start_.pendingEvaluations[0].limits.maxResultLength, 100u);
  EXPECT_EQ(start_.pendingEvaluations[0].limits.timeout, std::chrono::seconds(5));
  pageAnswers(start_, Kind::Value, "\"Notes!\"");
  EXPECT_EQ(answerText(), "\"Notes!\"");  // the JSON text, printed as it is

  run({"page", "eval", "--page", "other.html", "1"});
  pageAnswers(other_, Kind::Exception, "Error: boom");
  EXPECT_EQ(answerText(), "error: the script failed: Error: boom");
  run({"page", "eval", "1"});
  pageAnswers(start_, Kind::Unavailable, "the page shows a document that is not the app's");
  EXPECT_EQ(answerText(), "error: the page shows a document that is not the app's");

  EXPECT_NE(run({"page", "eval", "--page", "nowhere.html", "1"}).find("there is no page named \"nowhere.html\""),
            std::string::npos);
  EXPECT_NE(run({"page", "eval"}).find("missing SCRIPT"), std::string::npos);
  EXPECT_TRUE(start_.pendingEvaluations.empty() && other_.pendingEvaluations.empty());
}

TEST_F(PageCommandsTest, WaitAsksAgainAfterEachFalseOrFailedAnswerUntilTheExpressionIsTrue) {
  EXPECT_EQ(run({"page", "wait", "window.done"}), "pending");
  ASSERT_EQ(start_.pendingEvaluations.size(), 1u);
  EXPECT_NE(start_.pendingEvaluations[0].script.find("window.done"), std::string::npos);
  EXPECT_LE(start_.pendingEvaluations[0].limits.timeout, std::chrono::milliseconds(300));
  pageAnswers(start_, Kind::Value, "[]");  // not true yet
  EXPECT_TRUE(start_.pendingEvaluations.empty());  // it pauses before asking again
  ASSERT_EQ(timers_.active().size(), 1u);
  EXPECT_EQ(timers_.active()[0].interval, std::chrono::milliseconds(50));
  timers_.fireAll();
  pageAnswers(start_, Kind::Exception, "TypeError: x is undefined");  // not there yet: asks again
  timers_.fireAll();
  pageAnswers(start_, Kind::Value, "[\"ready\"]");
  EXPECT_EQ(answerText(), "\"ready\"");
  EXPECT_TRUE(timers_.active().empty());
}

TEST_F(PageCommandsTest, WaitGivesUpAtItsTimeNamingTheLastProblemAndAnInvalidExpressionAtOnce) {
  run({"page", "wait", "--timeout", "0.05", "window.done"});
  pageAnswers(start_, Kind::Exception, "ReferenceError: Can't find variable: done");
  ::usleep(80'000);  // the wait's time is up before the next question
  timers_.fireAll();
  EXPECT_EQ(answerText(),
            "error: the expression was not true within 0.050 s (the last attempt: the script failed: "
            "ReferenceError: Can't find variable: done)");

  run({"page", "wait", "1 +"});
  pageAnswers(start_, Kind::Invalid, "Unexpected end of script");
  EXPECT_EQ(answerText(), "error: the script is not JavaScript: Unexpected end of script");
  EXPECT_TRUE(timers_.active().empty());

  for (std::string bad : {"0", "-1", "2.5", "nan", "inf", "1s", ""})
    EXPECT_NE(run({"page", "wait", "--timeout", bad, "true"}).find("--timeout takes a number"), std::string::npos)
        << bad;
  EXPECT_TRUE(start_.pendingEvaluations.empty());
}

TEST_F(PageCommandsTest, AWaitStillRunningWhenTheCommandsGoIsAnsweredAndItsLateResultReachesNothing) {
  std::optional<control::ControlAnswer> answer;
  {
    testing::RecordingWebView view("index.html");
    testing::ManualTimers timers;
    control::ControlCommandRegistry commands(nullptr);
    {
      PageCommands pages([&](const std::string&) { return &view; }, {}, timers);
      pages.addControlCommands(commands);
      commands.execute({"page", "wait", "false"}, [&](control::ControlAnswer a) { answer = std::move(a); });
      ASSERT_EQ(view.pendingEvaluations.size(), 1u);
    }
    ASSERT_TRUE(answer);
    EXPECT_FALSE(answer->ok());
    view.pendingEvaluations[0].done({Kind::Value, "[true]"});  // nothing to reach: no crash
  }
}

TEST_F(PageCommandsTest, ScreenshotWritesTheWindowOrAPageToAnAbsolutePath) {
  fs::path folder = fs::temp_directory_path() / ("tavero-shot-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  fs::path file = folder / "shot.png";

  EXPECT_EQ(run({"screenshot", file.string()}), "pending");
  ASSERT_TRUE(windowSnapshot_);
  windowSnapshot_({.png = "PNG bytes", .width = 640, .height = 480, .error = ""});
  EXPECT_EQ(answerText(), "wrote " + file.string() + " (640x480)");
  EXPECT_EQ(base::readFileText(file), "PNG bytes");

  run({"screenshot", "--page", "other.html", file.string()});
  ASSERT_EQ(other_.pendingSnapshots.size(), 1u);
  other_.pendingSnapshots[0]({.png = "", .width = 0, .height = 0, .error = "the page gave no picture"});
  EXPECT_EQ(answerText(), "error: no picture: the page gave no picture");
  EXPECT_EQ(base::readFileText(file), "PNG bytes");  // left as it was

  run({"screenshot", (file / "x.png").string()});
  windowSnapshot_({.png = "PNG", .width = 1, .height = 1, .error = ""});
  EXPECT_NE(answerText().find("error: cannot write"), std::string::npos) << answerText();

  windowSnapshot_ = nullptr;
  EXPECT_NE(run({"screenshot", "shot.png"}).find("FILE must be an absolute path"), std::string::npos);
  EXPECT_NE(run({"screenshot", file.string(), "--window", "--page", "other.html"}).find("not both"),
            std::string::npos);
  EXPECT_FALSE(windowSnapshot_);
  fs::remove_all(folder);
}

TEST(PageCommandsClientSide, TheScreenshotFileIsMadeAbsoluteAndAWaitGetsTimeForItsAnswer) {
  fs::path here = fs::current_path();
  EXPECT_EQ(PageCommands::wordsToSend({"screenshot", "--page", "a.html", "out/../shot.png"}),
            (std::vector<std::string>{"screenshot", "--page", "a.html", (here / "shot.png").string()}));
  EXPECT_EQ(PageCommands::wordsToSend({"screenshot", "--window", "/tmp/x.png"}),
            (std::vector<std::string>{"screenshot", "--window", "/tmp/x.png"}));
  EXPECT_EQ(PageCommands::wordsToSend({"page", "eval", "x.png"}),
            (std::vector<std::string>{"page", "eval", "x.png"}));
  EXPECT_GT(PageCommands::answerTimeout({"page", "wait", "true"}), PageCommands::kLongestWait);
}

}  // namespace
}  // namespace tavero::app
