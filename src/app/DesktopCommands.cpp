#include "app/DesktopCommands.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <ostream>

#include "app/BundlePath.h"
#include "app/DesktopEntry.h"
#include "app/ExitStatus.h"
#include "base/AsciiText.h"
#include "base/URLScheme.h"
#include "control/ControlClient.h"
#include "control/RunningShells.h"
#include "platform/linux/PlistBundleReader.h"

namespace tavero::app {
namespace fs = std::filesystem;

namespace {

std::string schemesText(const std::vector<std::string>& schemes) {
  std::string text;
  for (const auto& scheme : schemes) text += (text.empty() ? "" : ", ") + scheme + ":";
  return text;
}

constexpr const char* kInstallUsage = "usage: tavero install [--take-schemes] BUNDLE\n";

constexpr const char* kInstallHelp =
    "\n"
    "Makes the web application in BUNDLE an application of the desktop: its name and icon in the\n"
    "menus, and the URL schemes of its Info.plist (CFBundleURLSchemes) opened by `tavero run`.\n"
    "A scheme that another installed application opens (slack:, zoommtg:, vscode:...) is not\n"
    "registered, and is named on standard error: the desktop would send that application's\n"
    "links, which may carry login tokens, to the app. The desktop's own schemes (http:, file:,\n"
    "mailto:...) are never registered.\n"
    "\n"
    "  --take-schemes  register the schemes other applications open as well\n"
    "  --help          print this text\n";

constexpr const char* kUninstallUsage = "usage: tavero uninstall BUNDLE|BUNDLE-ID\n";

constexpr const char* kUninstallHelp =
    "\n"
    "Removes the desktop entry `tavero install` wrote for the app (its bundle folder, or its\n"
    "bundle id), and with it the URL schemes it opened. The app's home is left as it is.\n"
    "\n"
    "  --help  print this text\n";

constexpr const char* kOpenURLUsage = "usage: tavero open-url URL [--from APP]\n";

constexpr const char* kOpenURLHelp =
    "\n"
    "Hands URL to the running app that owns its scheme, or starts the installed app that does, as\n"
    "if the application APP had opened it; the app's pages hear it and see it as device.scheme.\n"
    "\n"
    "  --from APP  the application that opens the URL (empty when left out)\n"
    "  --help      print this text\n";

bool asksForHelp(const std::vector<std::string>& args) {
  return std::any_of(args.begin(), args.end(), [](const std::string& arg) { return arg == "--help" || arg == "-h"; });
}

struct InstallOptions {
  std::string bundle;
  bool takeSchemes = false;  // also schemes other applications open
};

std::optional<InstallOptions> parseInstallOptions(const std::vector<std::string>& args) {
  InstallOptions options;
  for (const auto& arg : args) {
    if (arg == "--take-schemes")
      options.takeSchemes = true;
    else if (!arg.starts_with("--") && options.bundle.empty())
      options.bundle = bundlePathFromArgument(arg).string();
    else
      return std::nullopt;
  }
  if (options.bundle.empty()) return std::nullopt;
  return options;
}

// URLs of a scheme another application opens (a chat or meeting program:
// its links may carry login tokens) must keep going there. Leaves out of
// `bundle` the schemes another installed application opens, unless the
// user said to take them; says what it left out or took.
void keepOthersSchemes(platform::BundleInfo& bundle, bool takeSchemes, platform::SchemeHandlers& handlers,
                       std::ostream& out, std::ostream& err) {
  const std::string ownEntry = desktopEntryFileName(bundle.bundleIdentifier);
  std::vector<std::string> kept;
  bool skipped = false;
  for (const auto& scheme : bundle.urlSchemes) {
    std::vector<std::string> others = isDesktopScheme(scheme) ? std::vector<std::string>{}
                                                                : handlers.handlersOf(scheme, ownEntry);
    if (others.empty()) {
      kept.push_back(scheme);
      continue;
    }
    std::string names;
    for (const auto& other : others) names += (names.empty() ? "" : ", ") + other;
    if (takeSchemes) {
      out << "taking " << scheme << ": URLs from " << names << " (--take-schemes)\n";
      kept.push_back(scheme);
    } else {
      err << "tavero install: not registered: " << scheme << ": URLs open in " << names
          << " (installed); the app would receive their links\n";
      skipped = true;
    }
  }
  if (skipped)
    err << "tavero install: \"tavero install --take-schemes " << bundle.path.string()
        << "\" registers those schemes anyway\n";
  bundle.urlSchemes = std::move(kept);
}

// Replaces this process with `tavero run BUNDLE URL [--from APP]`; returns
// only when that cannot be done.
int startInstalledApp(const DesktopPlaces& places, const InstalledApp& app, const std::string& url,
                      const std::string& source, std::ostream& err) {
  std::vector<std::string> args = {places.taveroBinary.string(), "run", app.bundle.string(), url};
  if (!source.empty()) args.insert(args.end(), {"--from", source});
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  ::execv(places.taveroBinary.c_str(), argv.data());
  err << "tavero open-url: cannot start " << places.taveroBinary.string() << ": " << std::strerror(errno) << "\n";
  return kExitFailure;
}

}  // namespace

std::string urlScheme(const std::string& url) { return base::asciiLowercased(base::urlSchemeOf(url)); }

int runInstall(const std::vector<std::string>& args, const DesktopPlaces& places, std::ostream& out,
               std::ostream& err) {
  if (asksForHelp(args)) {
    out << kInstallUsage << kInstallHelp;
    return kExitSuccess;
  }
  auto options = parseInstallOptions(args);
  if (!options) {
    err << kInstallUsage;
    return kExitUsage;
  }
  if (!places.schemeHandlers) {
    err << "tavero install: cannot tell which applications open URL schemes; nothing installed\n";
    return kExitFailure;
  }
  auto bundle = platform::readBundle(options->bundle);
  if (auto* error = std::get_if<std::string>(&bundle)) {
    err << "tavero install: " << *error << "\n";
    return kExitUsage;
  }
  keepOthersSchemes(std::get<platform::BundleInfo>(bundle), options->takeSchemes, *places.schemeHandlers, out, err);
  auto installed = installDesktopEntry(std::get<platform::BundleInfo>(bundle), places.applications, places.taveroBinary);
  if (auto* error = std::get_if<std::string>(&installed)) {
    err << "tavero install: " << *error << "\n";
    return kExitFailure;
  }
  auto& entry = std::get<DesktopEntry>(installed);
  out << "installed " << std::get<platform::BundleInfo>(bundle).bundleIdentifier << " as "
      << (places.applications / entry.fileName).string() << "\n";
  if (!entry.schemes.empty()) out << "it opens " << schemesText(entry.schemes) << " URLs\n";
  if (!entry.refusedSchemes.empty())
    err << "tavero install: not registered, these belong to the desktop's own programs: "
        << schemesText(entry.refusedSchemes) << "\n";
  return kExitSuccess;
}

int runUninstall(const std::vector<std::string>& args, const DesktopPlaces& places, std::ostream& out,
                 std::ostream& err) {
  if (asksForHelp(args)) {
    out << kUninstallUsage << kUninstallHelp;
    return kExitSuccess;
  }
  if (args.size() != 1 || args[0].starts_with("--")) {
    err << kUninstallUsage;
    return kExitUsage;
  }
  std::string identifier = args[0];
  std::error_code ec;
  if (fs::is_directory(args[0], ec)) {
    auto bundle = platform::readBundle(bundlePathFromArgument(args[0]));
    if (auto* error = std::get_if<std::string>(&bundle)) {
      err << "tavero uninstall: " << *error << "\n";
      return kExitUsage;
    }
    identifier = std::get<platform::BundleInfo>(bundle).bundleIdentifier;
  }
  if (!uninstallDesktopEntry(identifier, places.applications)) {
    err << "tavero uninstall: " << identifier << " is not installed (no "
        << (places.applications / desktopEntryFileName(identifier)).string() << ")\n";
    return kExitFailure;
  }
  out << "uninstalled " << identifier << "\n";
  return kExitSuccess;
}

int runOpenURL(const std::vector<std::string>& args, const DesktopPlaces& places, std::ostream& out,
               std::ostream& err) {
  if (asksForHelp(args)) {
    out << kOpenURLUsage << kOpenURLHelp;
    return kExitSuccess;
  }
  std::string url, source;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--from" && i + 1 < args.size()) {
      source = args[++i];
    } else if (url.empty() && !args[i].starts_with("--")) {
      url = args[i];
    } else {
      err << kOpenURLUsage;
      return kExitUsage;
    }
  }
  std::string scheme = urlScheme(url);
  if (scheme.empty()) {
    err << "tavero open-url: \"" << url << "\" is not a URL (it needs a scheme, like myapp:)\n"
        << kOpenURLUsage;
    return kExitUsage;
  }

  std::vector<control::RunningShell> owners;
  auto running = control::RunningShells(places.runningShells).list();
  if (auto* shells = std::get_if<std::vector<control::RunningShell>>(&running)) {
    for (auto& shell : *shells)
      if (std::find(shell.urlSchemes.begin(), shell.urlSchemes.end(), scheme) != shell.urlSchemes.end())
        owners.push_back(std::move(shell));
  }
  if (owners.size() > 1) {
    err << "tavero open-url: several running apps open " << scheme << ": URLs; give the URL to one with "
        << "\"tavero device --app BUNDLE-ID url open URL\":\n";
    for (const auto& shell : owners) err << "  " << shell.bundleIdentifier << " (pid " << shell.pid << ")\n";
    return kExitFailure;
  }
  if (owners.size() == 1) {
    std::vector<std::string> command = {"url", "open", url};
    if (!source.empty()) command.insert(command.end(), {"--from", source});
    control::ControlAnswer answer = control::ControlClient::send(owners.front().socketPath(), command);
    if (!answer.ok()) {
      err << "tavero open-url: " << owners.front().bundleIdentifier << ": " << answer.errorMessage() << "\n";
      return kExitFailure;
    }
    out << "opened " << owners.front().bundleIdentifier << " with " << url << "\n";
    return kExitSuccess;
  }

  std::vector<InstalledApp> installed;
  for (auto& app : installedApps(places.applications))
    if (std::find(app.schemes.begin(), app.schemes.end(), scheme) != app.schemes.end()) installed.push_back(std::move(app));
  if (installed.empty()) {
    err << "tavero open-url: no app opens " << scheme << ": URLs (\"tavero install BUNDLE\" registers an app's "
        << "URL schemes)\n";
    return kExitFailure;
  }
  if (installed.size() > 1) {
    err << "tavero open-url: several installed apps open " << scheme << ": URLs; start one with "
        << "\"tavero run BUNDLE URL\":\n";
    for (const auto& app : installed) err << "  " << app.bundleIdentifier << " (" << app.bundle.string() << ")\n";
    return kExitFailure;
  }
  out.flush();
  return startInstalledApp(places, installed.front(), url, source, err);
}

}  // namespace tavero::app
