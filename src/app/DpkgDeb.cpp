#include "app/DpkgDeb.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

extern char** environ;

namespace tavero::app {
namespace fs = std::filesystem;

namespace {

std::optional<fs::path> programOnPath(std::string_view name) {
  const char* path = std::getenv("PATH");
  std::string_view folders = path && *path ? path : "/usr/bin:/bin";
  while (true) {
    size_t colon = folders.find(':');
    fs::path candidate = fs::path(folders.substr(0, colon)) / name;
    if (candidate.is_absolute() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) return std::nullopt;
    folders.remove_prefix(colon + 1);
  }
}

// This process's environment with SOURCE_DATE_EPOCH set to `date`.
std::vector<std::string> environmentWithDate(std::time_t date) {
  std::vector<std::string> variables;
  for (char** variable = environ; *variable; ++variable)
    if (!std::string_view(*variable).starts_with("SOURCE_DATE_EPOCH=")) variables.emplace_back(*variable);
  variables.push_back("SOURCE_DATE_EPOCH=" + std::to_string(date));
  return variables;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> list;
  for (auto& text : texts) list.push_back(text.data());
  list.push_back(nullptr);
  return list;
}

}  // namespace

std::optional<std::string> buildDebWithDpkgDeb(const fs::path& stage, const fs::path& output, std::time_t date) {
  auto dpkgDeb = programOnPath("dpkg-deb");
  if (!dpkgDeb)
    return std::string("dpkg-deb is not installed; it builds the package (Debian and Ubuntu: apt-get install dpkg)");
  std::vector<std::string> args = {dpkgDeb->string(), "--root-owner-group", "-Zxz", "--build", stage.string(),
                                   output.string()};
  std::vector<std::string> environment = environmentWithDate(date);
  auto argv = pointers(args);
  auto envp = pointers(environment);
  // dpkg-deb's "building package ..." line would hide the path this command prints.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return "cannot run " + dpkgDeb->string() + ": " + std::strerror(spawned);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::string("dpkg-deb failed (its message is above)");
  return std::nullopt;
}

}  // namespace tavero::app
