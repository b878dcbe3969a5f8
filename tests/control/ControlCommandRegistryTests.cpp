#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "control/ControlCommandRegistry.h"
#include "support/QueueMainThread.h"

namespace tavero::control {
namespace {

ControlCommand echoCommand(std::string name, ControlThread thread = ControlThread::Any) {
  return {.name = name,
          .usage = "WORD...",
          .help = "answers " + name + " and its words",
          .thread = thread,
          .handler = [name](ControlArguments& args) {
            std::string answer = name;
            while (auto word = args.nextIfAny()) answer += "|" + *word;
            return ControlAnswer::value(answer);
          }};
}

std::string answerText(const ControlAnswer& answer) {
  if (!answer.ok()) return "error: " + answer.errorMessage();
  return answer.value().isString() ? answer.value().asString() : "(not text)";
}

TEST(ControlCommandRegistry, TheLongestMatchingNameWinsAndTheRestAreItsArguments) {
  ControlCommandRegistry commands(nullptr);
  commands.add(echoCommand("push"));
  commands.add(echoCommand("push deliver"));
  EXPECT_EQ(answerText(commands.run({"push", "deliver", "{}"})), "push deliver|{}");
  EXPECT_EQ(answerText(commands.run({"push", "fail", "now"})), "push|fail|now");
  EXPECT_EQ(answerText(commands.run({"push"})), "push");
}

TEST(ControlCommandRegistry, UnknownAndIncompleteCommandsSayWhatExists) {
  ControlCommandRegistry commands(nullptr);
  commands.add(echoCommand("alert list"));
  commands.add(echoCommand("alert press"));
  ControlAnswer unknown = commands.run({"teleport", "now"});
  ASSERT_FALSE(unknown.ok());
  EXPECT_NE(unknown.errorMessage().find("unknown command \"teleport\""), std::string::npos);
  EXPECT_NE(unknown.errorMessage().find("tavero device help"), std::string::npos);

  ControlAnswer partial = commands.run({"alert", "dismiss"});
  ASSERT_FALSE(partial.ok());
  EXPECT_NE(partial.errorMessage().find("\"alert dismiss\""), std::string::npos);
  EXPECT_NE(partial.errorMessage().find("alert list WORD... | alert press WORD..."), std::string::npos);

  EXPECT_FALSE(commands.run({}).ok());
}

TEST(ControlCommandRegistry, BadArgumentsGiveTheUsageAndNothingHappens) {
  ControlCommandRegistry commands(nullptr);
  int pressed = -1;
  commands.add({.name = "alert press",
                .usage = "INDEX [--alert ID]",
                .help = "presses a button",
                .thread = ControlThread::Any,
                .handler = [&](ControlArguments& args) {
                  auto alert = args.option("--alert");
                  int64_t index = args.integer("INDEX", 0, 9);
                  args.end();
                  pressed = static_cast<int>(index);
                  return ControlAnswer::value(alert.value_or("newest"));
                }});
  for (auto words : std::vector<std::vector<std::string>>{{"alert", "press"},
                                                          {"alert", "press", "1x"},
                                                          {"alert", "press", "10"},
                                                          {"alert", "press", "-1"},
                                                          {"alert", "press", "1", "2"},
                                                          {"alert", "press", "1", "--alert"},
                                                          {"alert", "press", "1", "--alert", "2", "--alert", "3"}}) {
    ControlAnswer answer = commands.run(words);
    ASSERT_FALSE(answer.ok()) << words.size();
    EXPECT_NE(answer.errorMessage().find("usage: tavero device alert press INDEX [--alert ID]"), std::string::npos)
        << answer.errorMessage();
  }
  EXPECT_EQ(pressed, -1);
  EXPECT_EQ(answerText(commands.run({"alert", "press", "--alert", "7", "3"})), "7");
  EXPECT_EQ(pressed, 3);
}

TEST(ControlCommandRegistry, AHandlerThatThrowsGivesAnErrorAnswer) {
  ControlCommandRegistry commands(nullptr);
  commands.add({.name = "boom", .usage = "", .help = "fails", .thread = ControlThread::Any, .handler = [](ControlArguments&) -> ControlAnswer {
                  throw std::runtime_error("the simulated sensor is unplugged");
                }});
  ControlAnswer answer = commands.run({"boom"});
  ASSERT_FALSE(answer.ok());
  EXPECT_NE(answer.errorMessage().find("the simulated sensor is unplugged"), std::string::npos);
}

TEST(ControlCommandRegistry, HelpListsEveryCommandOnOneLineAndEventsGatherEveryKind) {
  ControlCommandRegistry commands(nullptr);
  commands.add(echoCommand("url open"));
  commands.add(echoCommand("app background"));
  commands.addEventKind("vibrations", "when the page vibrated", [] { return json::Value(json::Array{1, 2}); });
  commands.addEventKind("badge", "the badge number", [] { return json::Value(0); });

  std::string help = commands.helpText();
  for (const char* line : {"app background WORD...", "url open WORD...", "help", "events [badge|vibrations]"}) {
    EXPECT_NE(help.find(line), std::string::npos) << line << " in\n" << help;
  }
  EXPECT_EQ(answerText(commands.run({"help"})), help);

  ControlAnswer all = commands.run({"events"});
  ASSERT_TRUE(all.ok());
  ASSERT_TRUE(all.value().isObject());
  EXPECT_EQ(*all.value().asObject().find("badge"), json::Value(0));
  EXPECT_EQ(*all.value().asObject().find("vibrations"), json::Value(json::Array{1, 2}));
  ControlAnswer one = commands.run({"events", "vibrations"});
  ASSERT_TRUE(one.ok());
  EXPECT_EQ(one.value(), json::Value(json::Array{1, 2}));
  ControlAnswer unknown = commands.run({"events", "smells"});
  ASSERT_FALSE(unknown.ok());
  EXPECT_NE(unknown.errorMessage().find("kinds: [badge|vibrations]"), std::string::npos) << unknown.errorMessage();
}

TEST(ControlCommandRegistry, MainThreadCommandsRunOnTheMainThreadWithoutTheCallerWaiting) {
  testing::QueueMainThread main;
  ControlCommandRegistry commands(&main);
  std::thread::id ranOn;
  commands.add({.name = "where", .usage = "",
                .help = "tells the thread",
                .thread = ControlThread::Main,
                .handler = [&](ControlArguments&) {
                  ranOn = std::this_thread::get_id();
                  return ControlAnswer::value("here");
                }});
  std::optional<ControlAnswer> answer;
  std::thread caller([&] { commands.execute({"where"}, [&](ControlAnswer a) { answer = std::move(a); }); });
  caller.join();  // returned without the main thread having run anything
  EXPECT_FALSE(answer);
  EXPECT_EQ(main.runPending(), 1);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answerText(*answer), "here");
  EXPECT_EQ(ranOn, std::this_thread::get_id());

  // In-process callers on the main thread run it at once.
  EXPECT_EQ(answerText(commands.run({"where"})), "here");
}

TEST(ControlCommandRegistry, ACommandStillQueuedWhenTheRegistryGoesIsAnsweredWithAnError) {
  testing::QueueMainThread main;
  bool ran = false;
  std::optional<ControlAnswer> answer;
  {
    ControlCommandRegistry commands(&main);
    commands.add({.name = "late", .usage = "", .help = "", .thread = ControlThread::Main, .handler = [&](ControlArguments&) {
                    ran = true;
                    return ControlAnswer::value(true);
                  }});
    std::thread caller([&] { commands.execute({"late"}, [&](ControlAnswer a) { answer = std::move(a); }); });
    caller.join();
  }
  main.runPending();
  EXPECT_FALSE(ran);
  ASSERT_TRUE(answer);
  EXPECT_FALSE(answer->ok());
}

// A command that answers later: its replies wait in `replies` until the
// test answers them.
ControlCommand laterCommand(std::vector<ControlReply>& replies, ControlThread thread = ControlThread::Any) {
  return {.name = "later",
          .usage = "WORD",
          .help = "answers later",
          .thread = thread,
          .handler = {},
          .deferredHandler = [&replies](ControlArguments& args, ControlReply reply) {
            args.next("WORD");
            args.end();
            replies.push_back(reply);
          }};
}

TEST(ControlCommandRegistry, ADeferredCommandAnswersOnceWhenItHasTheAnswerAndADroppedReplyAnswersAnError) {
  testing::QueueMainThread main;
  ControlCommandRegistry commands(&main);
  std::vector<ControlReply> replies;
  commands.add(laterCommand(replies, ControlThread::Main));
  std::vector<std::string> answers;
  auto collect = [&](ControlAnswer a) { answers.push_back(answerText(a)); };

  commands.execute({"later", "one"}, collect);
  main.runPending();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_TRUE(answers.empty());  // asked, not answered yet
  std::thread([reply = replies[0]] { reply(ControlAnswer::value("done")); }).join();
  replies[0](ControlAnswer::value("twice"));  // a second answer is ignored
  EXPECT_EQ(answers, std::vector<std::string>{"done"});

  // Bad words answer at once with the usage; nothing waits.
  commands.execute({"later"}, collect);
  main.runPending();
  EXPECT_EQ(replies.size(), 1u);
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_NE(answers[1].find("usage: tavero device later WORD"), std::string::npos) << answers[1];

  // A handler that loses its reply does not leave the client waiting.
  commands.execute({"later", "two"}, collect);
  main.runPending();
  replies.clear();
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers[2], "error: the command ended without an answer");

  // On the main thread run() cannot wait for an answer the main loop brings.
  EXPECT_FALSE(commands.run({"later", "three"}).ok());
}

TEST(ControlCommandRegistry, RunWaitsOffTheMainThreadForADeferredAnswer) {
  ControlCommandRegistry commands(nullptr);
  std::vector<ControlReply> replies;
  commands.add({.name = "slow", .usage = "", .help = "", .thread = ControlThread::Any, .handler = {},
                .deferredHandler = [](ControlArguments& args, ControlReply reply) {
                  args.end();
                  std::thread([reply] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    reply(ControlAnswer::value("slow answer"));
                  }).detach();
                }});
  EXPECT_EQ(answerText(commands.run({"slow"})), "slow answer");
}

}  // namespace
}  // namespace tavero::control

namespace tavero::control {
namespace {

TEST(ControlArguments, AFlagIsTakenFromAnywhereOnceAndNotTwice) {
  ControlArguments args({"FILE", "--window", "x"});
  EXPECT_TRUE(args.flag("--window"));
  EXPECT_FALSE(args.flag("--window"));
  EXPECT_EQ(args.next("A"), "FILE");
  EXPECT_EQ(args.next("B"), "x");
  ControlArguments twice({"--window", "--window"});
  EXPECT_THROW(twice.flag("--window"), ControlUsageError);
}

TEST(ControlArguments, WordsInMessagesAreCutAndShowNoControlCharacters) {
  EXPECT_EQ(ControlArguments::quoted("abc"), "\"abc\"");
  EXPECT_EQ(ControlArguments::quoted("a\nb\x1b[2J\xff"), "\"a?b?[2J?\"");
  EXPECT_EQ(ControlArguments::quoted(std::string(100, 'x')), "\"" + std::string(60, 'x') + "...\"");
  EXPECT_EQ(ControlArguments::quoted("h\u00e9"), "\"h\u00e9\"");
  ControlCommandRegistry commands(nullptr);
  ControlAnswer answer = commands.run({std::string(1 << 20, 'z')});
  ASSERT_FALSE(answer.ok());
  EXPECT_LT(answer.errorMessage().size(), 200u);
}

}  // namespace
}  // namespace tavero::control
