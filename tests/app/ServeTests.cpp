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
  int errPipe[2];
  ASSERT_EQ(::pipe(errPipe), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, errPipe[0]);
  std::string homeText = home.string();
  const char* argv[] = {TAVERO_BINARY, "serve", "--port", "0", "--home", homeText.c_str(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, TAVERO_BINARY, &actions, nullptr, const_cast<char**>(argv), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(errPipe[1]);

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

  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::fclose(err);
  std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace tavero::app
