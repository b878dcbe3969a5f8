#include "platform/HomeFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/PrivateFiles.h"
#include "log/Log.h"

namespace tavero::platform {

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> absoluteVariable(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  fs::path path(value);
  if (!path.is_absolute()) return std::nullopt;
  return path;
}

// The user's home: $HOME, else the password database's entry.
fs::path userHome() {
  if (const char* home = std::getenv("HOME"); home && *home) return fs::path(home);
  long bufferSize = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(bufferSize > 0 ? static_cast<size_t>(bufferSize) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir && *found->pw_dir) {
    return fs::path(found->pw_dir);
  }
  std::error_code ec;
  fs::path here = fs::current_path(ec);
  log::warning("No home folder known (HOME unset); keeping application data under " +
               here.string());
  return here;
}

// Where every application's home lives: $XDG_DATA_HOME/tavero or
// ~/.local/share/tavero. A relative XDG_DATA_HOME is ignored, as the XDG
// rules require.
fs::path dataRoot() {
  if (auto xdg = absoluteVariable("XDG_DATA_HOME")) return *xdg / "tavero";
  return userHome() / ".local" / "share" / "tavero";
}

}  // namespace

std::string homeFolderName(const std::string& bundleIdentifier) {
  std::string name = bundleIdentifier;
  for (char& c : name) {
    if (c == '/' || c == '\0') c = '_';
  }
  if (name.empty() || name == "." || name == "..") return std::string("_") += name;
  return name;
}

HomeFolders homeFoldersFor(const std::string& bundleIdentifier,
                           const std::optional<fs::path>& override) {
  if (override) {
    std::error_code ec;
    fs::path home = fs::absolute(*override, ec);
    return HomeFolders{ec ? *override : home};
  }
  std::string name = homeFolderName(bundleIdentifier);
  if (name != bundleIdentifier) {
    log::warning("Bundle identifier \"" + bundleIdentifier + "\" is not a folder name; using \"" +
                 name + "\" for its home");
  }
  return HomeFolders{dataRoot() / name};
}

namespace {

// Homes made before the shell kept them private may be open to everyone:
// the home folder itself, and what the shell keeps in it, lose their group
// and other permissions. Only those: a --home folder may hold the user's
// own files too, which are not the shell's to change.
void tightenHome(const HomeFolders& folders) {
  base::PrivacyRepair repair = base::makePrivate(folders.home, base::Reach::justRoot);
  for (const fs::path& kept : {folders.documents(), folders.library(), folders.contacts()})
    base::addRepair(repair, base::makePrivate(kept));
  if (repair.folders + repair.files > 0) {
    log::warning("home: " + folders.home.string() + " was open to other users; made " +
                 std::to_string(repair.folders) + " folders and " + std::to_string(repair.files) +
                 " files private to their user (no group or other permissions)");
  }
  for (const std::string& error : repair.errors) log::error("home: cannot make private: " + error);
}

}  // namespace

std::optional<std::string> createHomeFolders(const HomeFolders& folders) {
  const fs::path all[] = {
      folders.home,     folders.documents(),   folders.library(), folders.applicationSupport(),
      folders.caches(), folders.preferences(), folders.webData(), folders.localStorageFolder()};
  for (const fs::path& folder : all) {
    if (std::error_code ec = base::createPrivateFolders(folder)) {
      return "Could not create the folder \"" + folder.string() + "\": " + ec.message();
    }
  }
  tightenHome(folders);
  return std::nullopt;
}

}  // namespace tavero::platform
