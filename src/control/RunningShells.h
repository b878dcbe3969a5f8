// The shells of this user that are running now, so that `tavero device` and
// `tavero open-url` find them without being told where their homes are.
//
// Each running shell keeps one file, <folder>/<pid>.json, naming its bundle,
// home (the control socket is <home>/control.sock) and URL schemes. The
// folder is $XDG_RUNTIME_DIR/tavero, or /tmp/tavero-<uid> without that
// variable; it must belong to this user and be private (mode 0700), or it
// is not used at all. Entries of processes that ended (a shell killed with
// -9) are removed by the next listing.
//
// Thread rules: any thread; the entries are files, so several processes
// may list at once.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tavero::control {

struct RunningShell {
  pid_t pid = 0;
  std::string bundleIdentifier;
  std::string displayName;
  std::filesystem::path bundle;
  std::filesystem::path home;
  std::vector<std::string> urlSchemes;  // lower case

  std::filesystem::path socketPath() const { return home / "control.sock"; }
};

class RunningShells {
 public:
  // $XDG_RUNTIME_DIR/tavero when that variable holds an absolute path, else
  // /tmp/tavero-<uid>. Reads the environment.
  static std::filesystem::path defaultFolder();

  explicit RunningShells(std::filesystem::path folder) : folder_(std::move(folder)) {}

  // Records `shell` (its pid is this process's, normally). A message when
  // the folder cannot be made private or the entry cannot be written.
  std::optional<std::string> add(const RunningShell& shell);
  // Removes the entry of `pid`, if there is one.
  void remove(pid_t pid);

  // The shells running now, by pid; removes entries of ended processes.
  // A message when the folder exists but is not private to this user.
  std::variant<std::vector<RunningShell>, std::string> list();

  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::optional<std::string> makePrivateFolder();
  std::optional<std::string> checkPrivateFolder() const;
  std::filesystem::path entryPath(pid_t pid) const { return folder_ / (std::to_string(pid) + ".json"); }

  std::filesystem::path folder_;
};

// When the process `pid` started, in clock ticks since boot (from
// /proc/<pid>/stat); nullopt when there is no such process, or it has ended
// and waits to be reaped. Tells a live shell from a later process that got
// its pid.
std::optional<unsigned long long> processStartTime(pid_t pid);

}  // namespace tavero::control
