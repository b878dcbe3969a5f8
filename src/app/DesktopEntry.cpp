#include "app/DesktopEntry.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <sstream>

#include "base/AtomicFile.h"
#include "base/FileRead.h"
#include "log/Log.h"

extern char** environ;

namespace tavero::app {
namespace fs = std::filesystem;

namespace {

constexpr std::array<std::string_view, 17> kDesktopSchemes = {
    "about", "data", "file", "ftp", "geo", "http", "https", "irc", "javascript", "magnet", "mailto",
    "sftp", "sms", "smb", "ssh", "tel", "webcal"};

bool hasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// A value as a desktop entry's string escapes it.
std::string escapeValue(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  if (!out.empty() && out.front() == ' ') out.replace(0, 1, "\\s");
  return out;
}

std::string unescapeValue(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char next = text[++i];
    out += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
  }
  return out;
}

// One argument of the Exec key, quoted, before the value is escaped.
std::string execArgument(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    if (c == '%') out += '%';  // a literal percent sign is written twice
    out += c;
  }
  return out + "\"";
}

// A name for the menus: control characters (a line break would start a
// new key) become spaces.
std::string menuName(const platform::BundleInfo& bundle) {
  std::string name = bundle.displayName.empty() ? bundle.bundleIdentifier : bundle.displayName;
  std::replace_if(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }, ' ');
  return name;
}

// The bundle's icon as an absolute path, when it names a file inside the bundle.
std::optional<fs::path> iconPath(const platform::BundleInfo& bundle) {
  if (!bundle.iconFile || hasControlCharacter(*bundle.iconFile)) return std::nullopt;
  std::error_code ec;
  fs::path folder = fs::canonical(bundle.path, ec);
  if (ec) return std::nullopt;
  fs::path icon = fs::canonical(bundle.path / *bundle.iconFile, ec);
  if (ec || !fs::is_regular_file(icon, ec)) {
    log::warning("install: the bundle's icon " + *bundle.iconFile + " is not a file in the bundle; no icon");
    return std::nullopt;
  }
  auto [end, ignored] = std::mismatch(folder.begin(), folder.end(), icon.begin(), icon.end());
  if (end != folder.end()) {
    log::warning("install: the bundle's icon " + *bundle.iconFile + " lies outside the bundle; no icon");
    return std::nullopt;
  }
  return icon;
}

// Makes the desktop's cache of URL handlers know the entry: with
// update-desktop-database when it is installed, else by hand.
void refreshHandlerCache(const fs::path& folder, const std::string& fileName, const std::vector<std::string>& schemes) {
  std::string folderText = folder.string();
  const char* argv[] = {"update-desktop-database", "-q", folderText.c_str(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) == 0) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
    log::warning("install: update-desktop-database failed; updating mimeinfo.cache directly");
  }
  updateSchemeHandlerCache(folder, fileName, schemes);
}

}  // namespace

void updateSchemeHandlerCache(const fs::path& folder, const std::string& fileName,
                              const std::vector<std::string>& schemes) {
  const fs::path cache = folder / "mimeinfo.cache";
  std::vector<std::pair<std::string, std::vector<std::string>>> handlers;  // type -> entries, in file order
  std::istringstream lines(base::readFileText(cache).value_or(""));
  bool inCache = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("[")) {
      inCache = line == "[MIME Cache]";
      continue;
    }
    size_t equals = line.find('=');
    if (!inCache || equals == std::string::npos) continue;
    std::vector<std::string> entries;
    std::istringstream list(line.substr(equals + 1));
    for (std::string entry; std::getline(list, entry, ';');)
      if (!entry.empty() && entry != fileName) entries.push_back(entry);
    handlers.emplace_back(line.substr(0, equals), std::move(entries));
  }
  for (const auto& scheme : schemes) {
    std::string type = "x-scheme-handler/" + scheme;
    auto it = std::find_if(handlers.begin(), handlers.end(), [&](const auto& handler) { return handler.first == type; });
    if (it == handlers.end()) it = handlers.insert(handlers.end(), {type, {}});
    it->second.insert(it->second.begin(), fileName);
  }
  std::string text = "[MIME Cache]\n";
  for (const auto& [type, entries] : handlers) {
    if (entries.empty()) continue;
    text += type + "=";
    for (const auto& entry : entries) text += entry + ";";
    text += "\n";
  }
  // Every application of the desktop reads the cache.
  if (auto error = base::writeFileAtomically(cache, text, 0644)) log::warning("install: " + *error);
}

bool isDesktopScheme(std::string_view scheme) {
  return std::find(kDesktopSchemes.begin(), kDesktopSchemes.end(), scheme) != kDesktopSchemes.end();
}

std::string desktopEntryFileName(std::string_view bundleIdentifier) {
  std::string name = "tavero-";
  for (char c : bundleIdentifier) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                 c == '-' || c == '_';
    name += plain ? c : '_';
  }
  return name + ".desktop";
}

fs::path userApplicationsFolder() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome && dataHome[0] == '/') return fs::path(dataHome) / "applications";
  const char* home = std::getenv("HOME");
  return fs::path(home && home[0] ? home : "/") / ".local" / "share" / "applications";
}

std::variant<DesktopEntry, std::string> desktopEntryFor(const platform::BundleInfo& bundle,
                                                        const fs::path& taveroBinary) {
  if (hasControlCharacter(bundle.path.string()))
    return std::string("the bundle's path has a control character (a line break?); move the bundle");
  if (hasControlCharacter(taveroBinary.string())) return std::string("the tavero binary's path has a control character");
  DesktopEntry entry;
  entry.fileName = desktopEntryFileName(bundle.bundleIdentifier);
  for (const auto& scheme : bundle.urlSchemes) {
    (isDesktopScheme(scheme) ? entry.refusedSchemes : entry.schemes).push_back(scheme);
  }
  std::string text = "[Desktop Entry]\nType=Application\nVersion=1.0\n";
  text += "Name=" + escapeValue(menuName(bundle)) + "\n";
  text += "Exec=" + escapeValue(execArgument(taveroBinary.string()) + " run " + execArgument(bundle.path.string()) + " %u") + "\n";
  if (auto icon = iconPath(bundle)) text += "Icon=" + escapeValue(icon->string()) + "\n";
  text += "Terminal=false\n";
  if (!entry.schemes.empty()) {
    text += "MimeType=";
    for (const auto& scheme : entry.schemes) text += "x-scheme-handler/" + scheme + ";";
    text += "\n";
  }
  text += "X-Tavero-Bundle=" + escapeValue(bundle.path.string()) + "\n";
  text += "X-Tavero-BundleIdentifier=" + escapeValue(bundle.bundleIdentifier) + "\n";
  entry.text = std::move(text);
  return entry;
}

std::variant<DesktopEntry, std::string> installDesktopEntry(const platform::BundleInfo& bundle, const fs::path& folder,
                                                            const fs::path& taveroBinary) {
  auto made = desktopEntryFor(bundle, taveroBinary);
  if (auto* error = std::get_if<std::string>(&made)) return *error;
  auto& entry = std::get<DesktopEntry>(made);
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return "cannot make " + folder.string() + ": " + ec.message();
  // The desktop's menus and URL handling read the entry.
  if (auto error = base::writeFileAtomically(folder / entry.fileName, entry.text, 0644)) return *error;
  refreshHandlerCache(folder, entry.fileName, entry.schemes);
  return entry;
}

bool uninstallDesktopEntry(std::string_view bundleIdentifier, const fs::path& folder) {
  std::error_code ec;
  std::string fileName = desktopEntryFileName(bundleIdentifier);
  bool removed = fs::remove(folder / fileName, ec);
  if (removed) refreshHandlerCache(folder, fileName, {});
  return removed;
}

std::vector<InstalledApp> installedApps(const fs::path& folder) {
  std::vector<InstalledApp> apps;
  std::error_code ec;
  for (const auto& file : fs::directory_iterator(folder, ec)) {
    std::string name = file.path().filename().string();
    if (!name.starts_with("tavero-") || file.path().extension() != ".desktop") continue;
    InstalledApp app;
    app.entry = file.path();
    std::istringstream lines(base::readFileText(file.path()).value_or(""));
    for (std::string line; std::getline(lines, line);) {
      size_t equals = line.find('=');
      if (equals == std::string::npos) continue;
      std::string key = line.substr(0, equals);
      std::string value = unescapeValue(std::string_view(line).substr(equals + 1));
      if (key == "X-Tavero-Bundle") app.bundle = value;
      if (key == "X-Tavero-BundleIdentifier") app.bundleIdentifier = value;
      if (key == "MimeType") {
        std::istringstream types(value);
        for (std::string type; std::getline(types, type, ';');)
          if (type.starts_with("x-scheme-handler/")) app.schemes.push_back(type.substr(17));
      }
    }
    if (!app.bundle.empty()) apps.push_back(std::move(app));
  }
  std::sort(apps.begin(), apps.end(), [](const auto& a, const auto& b) { return a.entry < b.entry; });
  return apps;
}

}  // namespace tavero::app
