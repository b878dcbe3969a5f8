#include "app/CreateCommand.h"

#include <filesystem>
#include <optional>
#include <ostream>

#include "app/AppTemplate.h"
#include "app/BundleIdentifier.h"
#include "app/BundlePath.h"
#include "app/ExitStatus.h"
#include "app/NewAppFolder.h"
#include "json/Utf8.h"

namespace tavero::app {
namespace fs = std::filesystem;

namespace {

constexpr const char* kCreateUsage = "usage: tavero create DIR [--id ID] [--name NAME]\n";

constexpr const char* kCreateHelp =
    "\n"
    "Makes a new web application in DIR (made if missing; an existing folder is fine as long as\n"
    "none of the new files is already there: nothing is ever replaced). It runs at once with\n"
    "\"tavero run DIR\".\n"
    "\n"
    "  --id ID      its bundle identifier, in reverse-DNS form (org.example.notes); it names the\n"
    "               app's home. Default: org.example. and the folder's name in lower case\n"
    "  --name NAME  the name people see. Default: the folder's name\n"
    "  --help       print this text\n"
    "\n"
    "It writes Info.plist, webapp/ (index.html, app.js, style.css, app.json), device.json (a\n"
    "device profile for --device), types/tavero.d.ts and tsconfig.json (the page client's types,\n"
    "for editors and tsc), README.md, tests/smoke.sh (starts it headless) and tests/device.sh\n"
    "(plays a position and waits for the page to show it).\n"
    "\n"
    "exit status:\n"
    "  0  the app was made\n"
    "  1  a file could not be written (what was written is removed again)\n"
    "  2  a wrong command line, a bad --id or --name, or one of the files already there;\n"
    "     nothing was written\n";

struct CreateOptions {
  fs::path folder;
  std::optional<std::string> identifier;
  std::optional<std::string> name;
  bool help = false;
};

std::optional<CreateOptions> parseCreateOptions(const std::vector<std::string>& args) {
  CreateOptions options;
  bool folderGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool hasValue = i + 1 < args.size();
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--id" && hasValue && !options.identifier) {
      options.identifier = args[++i];
    } else if (arg == "--name" && hasValue && !options.name) {
      options.name = args[++i];
    } else if (!arg.starts_with("-") && !folderGiven && !arg.empty()) {
      options.folder = bundlePathFromArgument(arg);
      folderGiven = true;
    } else {
      return std::nullopt;
    }
  }
  if (!folderGiven && !options.help) return std::nullopt;
  return options;
}

// Why `name` cannot be an app's display name, or nullopt.
std::optional<std::string> displayNameProblem(const std::string& name) {
  constexpr size_t kLongestName = 200;
  if (name.empty()) return "it is empty";
  if (name.size() > kLongestName) return "it is longer than 200 bytes";
  if (!json::isValidUTF8(name)) return "it is not UTF-8 text";
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7f) return "it holds a control character (a line break, a tab...)";
  return std::nullopt;
}

// `path` as a shell takes it back: quoted when it holds anything but
// letters, digits and a few harmless marks.
std::string shellWord(const std::string& path) {
  if (!path.empty() && path.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./+,:@%") ==
                           std::string::npos)
    return path;
  std::string quoted = "'";
  for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::vector<NewAppFolder::File> filesFor(const AppIdentity& app) {
  std::vector<NewAppFolder::File> files;
  for (const auto& file : appTemplateFiles())
    files.push_back({std::string(file.path), filledTemplate(file.text, app), file.executable});
  return files;
}

void printMade(const AppIdentity& app, const fs::path& folder, const std::vector<NewAppFolder::File>& files,
               std::ostream& out) {
  out << "created \"" << app.displayName << "\" (" << app.identifier << ") in " << folder.string() << ":\n";
  for (const auto& file : files) out << "  " << file.path << "\n";
  out << "\nnext:\n"
      << "  cd " << shellWord(folder.string()) << "\n"
      << "  tavero run . --device device.json        run it in a window\n"
      << "  tavero device geo fix 48.8584 2.2945     (from another terminal) move the device; the page follows\n"
      << "  tests/smoke.sh                           run it headless and check its start page loads\n"
      << "  tests/device.sh                          play a position and wait for the page to show it\n"
      << "  tsc --noEmit -p .                        check its scripts against types/tavero.d.ts\n";
}

}  // namespace

int runCreate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  auto options = parseCreateOptions(args);
  if (!options) {
    err << kCreateUsage;
    return kExitUsage;
  }
  if (options->help) {
    out << kCreateUsage << kCreateHelp;
    return kExitSuccess;
  }
  std::string folderName = options->folder.filename().string();
  AppIdentity app{.identifier = options->identifier.value_or(bundleIdentifierForFolder(folderName)),
                  .displayName = options->name.value_or(folderName)};
  if (auto problem = bundleIdentifierProblem(app.identifier)) {
    err << "tavero create: \"" << app.identifier << "\" is not a reverse-DNS bundle identifier: " << *problem
        << "; for example: --id org.example.notes\n";
    return kExitUsage;
  }
  if (auto problem = displayNameProblem(app.displayName)) {
    err << "tavero create: \"" << app.displayName << "\" cannot be the app's name: " << *problem
        << (options->name ? "" : "; give one with --name") << "\n";
    return kExitUsage;
  }

  auto files = filesFor(app);
  NewAppFolder folder(options->folder);
  if (auto obstacle = folder.obstacle(files)) {
    err << "tavero create: " << *obstacle << "; nothing was written (create never replaces a file)\n";
    return kExitUsage;
  }
  if (auto failure = folder.write(files)) {
    err << "tavero create: " << *failure << "; nothing was left behind\n";
    return kExitFailure;
  }
  printMade(app, options->folder, files, out);
  return kExitSuccess;
}

}  // namespace tavero::app
