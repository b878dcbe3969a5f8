#include "control/RunningShells.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <iterator>
#include <sstream>

#include "base/AtomicFile.h"
#include "base/FileRead.h"
#include "control/ControlProtocol.h"
#include "json/JsonCodec.h"
#include "log/Log.h"

namespace tavero::control {
namespace fs = std::filesystem;

namespace {

// No entry (nor a process's stat line) is this large.
constexpr uintmax_t kMaxEntryBytes = 1 << 20;

json::Value entryJSON(const RunningShell& shell, unsigned long long startTime) {
  json::Array schemes;
  for (const auto& scheme : shell.urlSchemes) schemes.emplace_back(scheme);
  json::Object entry;
  entry.append("pid", static_cast<long long>(shell.pid));
  entry.append("started", std::to_string(startTime));
  entry.append("bundleIdentifier", shell.bundleIdentifier);
  entry.append("displayName", shell.displayName);
  entry.append("bundle", shell.bundle.string());
  entry.append("home", shell.home.string());
  entry.append("urlSchemes", json::Value(std::move(schemes)));
  return json::Value(std::move(entry));
}

std::string stringAt(const json::Object& entry, std::string_view key) {
  const json::Value* value = entry.find(key);
  return value && value->isString() ? value->asString() : std::string();
}

// The shell an entry names, if its process is still the one that wrote it.
std::optional<RunningShell> liveShell(const json::Object& entry, pid_t filePid) {
  const json::Value* pid = entry.find("pid");
  if (!pid || !pid->isNumber() || pid->toInt64() != filePid) return std::nullopt;
  auto started = processStartTime(filePid);
  if (!started || std::to_string(*started) != stringAt(entry, "started")) return std::nullopt;
  RunningShell shell;
  shell.pid = filePid;
  shell.bundleIdentifier = stringAt(entry, "bundleIdentifier");
  shell.displayName = stringAt(entry, "displayName");
  shell.bundle = stringAt(entry, "bundle");
  shell.home = stringAt(entry, "home");
  if (shell.home.empty()) return std::nullopt;
  if (const json::Value* schemes = entry.find("urlSchemes"); schemes && schemes->isArray())
    for (const auto& scheme : schemes->asArray())
      if (scheme.isString()) shell.urlSchemes.push_back(scheme.asString());
  return shell;
}

}  // namespace

std::optional<unsigned long long> processStartTime(pid_t pid) {
  std::string stat = base::readFileText("/proc/" + std::to_string(pid) + "/stat", kMaxEntryBytes).value_or("");
  // The command name in parentheses may hold anything, spaces and ")" too:
  // the fields that follow start after the last ")".
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  // After the name: state is field 3, the start time field 22. A process
  // that has ended but not yet been reaped (a zombie) runs no more.
  for (int index = 3; index <= 22; ++index) {
    if (!(fields >> field)) return std::nullopt;
    if (index == 3 && (field == "Z" || field == "X" || field == "x")) return std::nullopt;
  }
  char* end = nullptr;
  unsigned long long ticks = std::strtoull(field.c_str(), &end, 10);
  if (end == field.c_str() || *end != '\0') return std::nullopt;
  return ticks;
}

fs::path RunningShells::defaultFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') return fs::path(runtime) / "tavero";
  return fs::path("/tmp") / ("tavero-" + std::to_string(::geteuid()));
}

std::optional<std::string> RunningShells::checkPrivateFolder() const {
  struct stat info {};
  if (::lstat(folder_.c_str(), &info) != 0)
    return "the folder of running apps " + folder_.string() + " cannot be read: " + std::strerror(errno);
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0) {
    return "the folder of running apps " + folder_.string() +
           " is not a private folder of this user (mode 0700); it is not used";
  }
  return std::nullopt;
}

std::optional<std::string> RunningShells::makePrivateFolder() {
  if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) {
    if (errno == ENOENT) {
      std::error_code ec;
      fs::create_directories(folder_.parent_path(), ec);
      if (::mkdir(folder_.c_str(), 0700) == 0) return checkPrivateFolder();
    }
    return "cannot make the folder of running apps " + folder_.string() + ": " + std::strerror(errno);
  }
  return checkPrivateFolder();
}

std::optional<std::string> RunningShells::add(const RunningShell& shell) {
  if (auto error = makePrivateFolder()) return error;
  auto started = processStartTime(shell.pid);
  if (!started) return "process " + std::to_string(shell.pid) + " is not running";
  // Other shells of this user read the entry; the folder keeps everyone else out.
  return base::writeFileAtomically(entryPath(shell.pid), oneLineJSON(entryJSON(shell, *started)) + "\n");
}

void RunningShells::remove(pid_t pid) {
  std::error_code ec;
  fs::remove(entryPath(pid), ec);
}

std::variant<std::vector<RunningShell>, std::string> RunningShells::list() {
  std::vector<RunningShell> shells;
  std::error_code ec;
  if (!fs::exists(folder_, ec)) return shells;
  if (auto error = checkPrivateFolder()) return *error;
  for (const auto& file : fs::directory_iterator(folder_, ec)) {
    const fs::path& path = file.path();
    if (path.extension() != ".json") continue;
    char* end = nullptr;
    std::string stem = path.stem().string();
    long pid = std::strtol(stem.c_str(), &end, 10);
    if (stem.empty() || *end != '\0' || pid <= 0) continue;
    auto entry = json::JsonCodec::dictionaryWithJSONString(base::readFileText(path, kMaxEntryBytes).value_or(""));
    auto shell = entry ? liveShell(*entry, static_cast<pid_t>(pid)) : std::nullopt;
    if (shell) {
      shells.push_back(std::move(*shell));
    } else {
      log::debug("running apps: removed the entry of a shell that ended: " + path.string());
      fs::remove(path, ec);
    }
  }
  std::sort(shells.begin(), shells.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
  return shells;
}

}  // namespace tavero::control
