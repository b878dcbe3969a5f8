#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>

#include "app/ServeCommand.h"
#include "json/JsonCodec.h"
#include "support/ChildProcess.h"
#include "support/LoopbackClient.h"

extern char** environ;

namespace tavero::app {
namespace {

TEST(ServeCommand, ScriptLinesAreOneLineOfJsonWithThePageAndTheExactScript) {
  std::string script = "Kio.device.Communicator.invoke('3', [{\n\t \"a\" : \"b/c\"}])";
  std::string line = scriptLine("index.html", script);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  auto read = json::JsonCodec::dictionaryWithJSONString(line);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->find("page")->asString(), "index.html");
  EXPECT_EQ(read->find("script")->asString(), script);
}

TEST(ServeCommand, OptionsAreCheckedBeforeAnythingStarts) {
  auto options = parseServeOptions({"--port", "0", "--home", "/tmp/h"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->port, 0);
  EXPECT_EQ(options->home, "/tmp/h");
  EXPECT_FALSE(parseServeOptions({"--port", "70000"}));
  EXPECT_FALSE(parseServeOptions({"--port", "12x"}));
  EXPECT_FALSE(parseServeOptions({"--port"}));
  EXPECT_FALSE(parseServeOptions({"--verbose"}));
}

// Runs the real binary: it serves on a free port, answers a command, and
// stops cleanly on SIGTERM.
TEST(ServeCommand, ServesUntilSigtermThenExitsCleanly) {
  auto home = std::filesystem::temp_directory_path() / ("tavero-serve-" + std::to_string(::getpid()));
  int errPipe[2], outPipe[2];
  ASSERT_EQ(::pipe(errPipe), 0);
  ASSERT_EQ(::pipe(outPipe), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, errPipe[0]);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, outPipe[0]);
  std::string homeText = home.string();
  const char* argv[] = {TAVERO_BINARY, "serve", "--port", "0", "--home", homeText.c_str(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, TAVERO_BINARY, &actions, nullptr, const_cast<char**>(argv), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(errPipe[1]);
  ::close(outPipe[1]);

  // The first log line names the port.
  FILE* err = ::fdopen(errPipe[0], "r");
  char line[1024];
  uint16_t port = 0;
  std::regex listening("listening on 127\\.0\\.0\\.1:([0-9]+)");
  while (port == 0 && std::fgets(line, sizeof line, err)) {
    std::cmatch match;
    if (std::regex_search(line, match, listening)) port = static_cast<uint16_t>(std::stoi(match[1]));
  }
  ASSERT_NE(port, 0);
  EXPECT_TRUE(std::filesystem::is_directory(home));

  tavero::testing::LoopbackClient client(port);
  client.send(tavero::testing::getRequest("/?command=Contact%23find&__source=file:///app/index.html", port));
  auto answer = client.readAnswer();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 200);

  // Every module is there, the camera too: it shoots the simulated camera's
  // test card, and the callback script carries the picture.
  tavero::testing::LoopbackClient camera(port);
  camera.send(tavero::testing::getRequest(
      "/?command=Camera%23capture&source=1&destination=0&encoding=1&success=7&failure=8"
      "&__source=file:///app/index.html",
      port));
  answer = camera.readAnswer();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 200);
  FILE* out = ::fdopen(outPipe[0], "r");
  std::string script;
  char scriptLine[1 << 16];
  while (script.empty() && std::fgets(scriptLine, sizeof scriptLine, out))
    if (std::string_view(scriptLine).find("invoke(") != std::string_view::npos) script = scriptLine;
  EXPECT_NE(script.find("invoke('7', [\\\"iVBORw0KGgo"), std::string::npos) << script.substr(0, 200);

  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::fclose(err);
  std::fclose(out);
  std::filesystem::remove_all(home);
}

// Another local user's program reaches the loopback port as well: it is
// reset before anything is read, and the refusal is logged; the serving
// user's own programs are still served.
TEST(ServeCommand, RefusesTheProgramsOfAnotherUser) {
  if (::getuid() != 0) GTEST_SKIP() << "becoming another user needs root";
  auto home = std::filesystem::temp_directory_path() / ("tavero-serve-users-" + std::to_string(::getpid()));
  tavero::testing::ChildProcess serve({TAVERO_BINARY, "serve", "--port", "0", "--home", home.string()});
  std::regex listening("listening on 127\\.0\\.0\\.1:([0-9]+)");
  auto line = serve.waitForLine([&](const std::string& text) { return std::regex_search(text, listening); });
  ASSERT_TRUE(line) << serve.allLines();
  std::smatch match;
  std::regex_search(*line, match, listening);
  const uint16_t port = static_cast<uint16_t>(std::stoi(match[1]));

  pid_t intruder = ::fork();
  if (intruder == 0) {
    ::alarm(20);
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    tavero::testing::LoopbackClient client(port);
    if (!client.connected()) ::_exit(4);
    client.send(tavero::testing::getRequest("/?command=Contact%23find&sync=true", port));
    ::_exit(client.readAnswer() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(intruder, &status, 0), intruder);
  ASSERT_TRUE(WIFEXITED(status)) << "the other user's client ended by signal " << WTERMSIG(status);
  EXPECT_NE(WEXITSTATUS(status), 1) << "the other user's program got an answer";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  auto refusal = serve.waitForLineContaining("refused a connection");
  ASSERT_TRUE(refusal) << serve.allLines();
  EXPECT_NE(refusal->find("user 0"), std::string::npos) << *refusal;

  tavero::testing::LoopbackClient own(port);
  own.send(tavero::testing::getRequest("/?command=Contact%23find&__source=file:///app/index.html", port));
  auto answer = own.readAnswer();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 200);

  serve.signal(SIGTERM);
  EXPECT_EQ(serve.wait(), 0);
  std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace tavero::app
