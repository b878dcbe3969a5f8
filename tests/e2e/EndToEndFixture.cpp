#include "e2e/EndToEndFixture.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/linux/PlistBundleReader.h"

extern char** environ;

namespace tavero::app::e2e {

TQProbe::TQProbe(bridge::CallbackDelivery& callbacks) {
  addOperation("echo", [&callbacks](bridge::Invocation& call) {
    json::Object answer;
    answer.append("value", std::string(call.text("value")));
    answer.append("page", call.pageName());
    callbacks.invokeCallback(call.integer("success"), json::Value(std::move(answer)), call.pageName());
  });
  // Answers a synchronous call with its "value" text.
  addOperation("text", [](bridge::Invocation& call) { call.setResult(std::string(call.text("value"))); });
  addOperation("verdict", [this](bridge::Invocation& call) {
    std::lock_guard lock(mutex_);
    const json::Value* verdict = call.arguments().find("verdict");
    verdict_ = verdict && verdict->isObject() ? verdict->asObject() : json::Object{};
  });
}

std::optional<json::Object> TQProbe::verdict() {
  std::lock_guard lock(mutex_);
  return verdict_;
}

void TQProbe::clearVerdict() {
  std::lock_guard lock(mutex_);
  verdict_.reset();
}

void EndToEndTest::SetUp() {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  home_ = fs::temp_directory_path() /
          ("tavero-e2e-" + std::to_string(::getpid()) + "-" + test->test_suite_name() + "-" + test->name());
  fs::remove_all(home_);
}

void EndToEndTest::TearDown() { fs::remove_all(home_); }

std::unique_ptr<ShellApplication> EndToEndTest::makeShell(
    const std::string& bundleName, const std::function<void(ShellApplication::Settings&)>& adjust) {
  auto bundle = platform::readBundle(fs::path(TAVERO_E2E_DIR) / bundleName);
  EXPECT_TRUE(std::holds_alternative<platform::BundleInfo>(bundle));
  ShellApplication::Settings settings;
  settings.bundle = std::get<platform::BundleInfo>(bundle);
  settings.home = platform::HomeFolders{home_};
  settings.port = 0;  // any free port: the page client learns it
  platform::createHomeFolders(settings.home);
  settings.device = platform::DeviceInfo{.name = "Kim's \"test\" phone",
                                         .modelCode = "iPhone4,1",
                                         .genericModel = "Linux desktop",
                                         .systemVersion = "12",
                                         .macAddress = platform::MacAddress{0, 0x1e, 0xc2, 0xaa, 0xbb, 0x0f}};
  settings.extraModules = [this](bridge::ModuleRegistry& modules, bridge::CallbackDelivery& callbacks) {
    modules.add("TQProbe", [this, &callbacks] {
      auto probe = std::make_unique<TQProbe>(callbacks);
      probe_ = probe.get();
      return probe;
    });
  };
  if (adjust) adjust(settings);
  return std::make_unique<ShellApplication>(std::move(settings));
}

std::optional<json::Object> EndToEndTest::waitForVerdict(ShellApplication& shell, std::chrono::milliseconds limit) {
  std::optional<json::Object> verdict;
  serveUntil(shell, [&] { return probe_ && (verdict = probe_->verdict()).has_value(); }, limit);
  return verdict;
}

bool EndToEndTest::serveUntil(ShellApplication& shell, const std::function<bool()>& condition,
                              std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    shell.mainThread().runFor(std::chrono::milliseconds(20));
  }
  return true;
}

void EndToEndTest::expectAllTrue(const json::Object& verdict, std::initializer_list<const char*> checks) {
  for (const char* check : checks) {
    const json::Value* passed = verdict.find(check);
    EXPECT_TRUE(passed && *passed == json::Value(true)) << check << " in " << text(verdict);
  }
}

}  // namespace tavero::app::e2e

namespace tavero::app::e2e {

CommandOutput EndToEndTest::device(ShellApplication& shell, const std::vector<std::string>& args,
                                   std::chrono::milliseconds limit) {
  std::vector<std::string> all = {"device", "--home", home_.string()};
  all.insert(all.end(), args.begin(), args.end());
  return runTavero(shell, all, {}, limit);
}

CommandOutput EndToEndTest::runTavero(ShellApplication& shell, const std::vector<std::string>& args,
                                      const std::vector<std::string>& env, std::chrono::milliseconds limit) {
  CommandOutput output;
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC | O_NONBLOCK) != 0 || ::pipe2(errPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    ADD_FAILURE() << "no pipes";
    return output;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  std::vector<std::string> argStrings = {TAVERO_BINARY};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argStrings) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStrings = env;
  for (char** entry = environ; *entry; ++entry) {
    std::string_view variable(*entry);
    bool overridden = std::any_of(env.begin(), env.end(), [&](const std::string& mine) {
      return variable.substr(0, variable.find('=') + 1) == mine.substr(0, mine.find('=') + 1);
    });
    if (!overridden) envStrings.emplace_back(variable);
  }
  std::vector<char*> envp;
  for (auto& entry : envStrings) envp.push_back(entry.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, TAVERO_BINARY, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  auto drain = [](int fd, std::string& into) {
    char chunk[4096];
    for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) into.append(chunk, static_cast<size_t>(n));
  };
  if (spawned == 0) {
    int status = 0;
    bool ended = serveUntil(shell, [&] {
      drain(outPipe[0], output.out);
      drain(errPipe[0], output.err);
      return ::waitpid(pid, &status, WNOHANG) == pid;
    }, limit);
    if (!ended) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ADD_FAILURE() << "tavero did not end in time: " << output.err;
    } else if (WIFEXITED(status)) {
      output.exitStatus = WEXITSTATUS(status);
    }
    drain(outPipe[0], output.out);
    drain(errPipe[0], output.err);
  } else {
    ADD_FAILURE() << "cannot run " << TAVERO_BINARY;
  }
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  return output;
}

}  // namespace tavero::app::e2e
