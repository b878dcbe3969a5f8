#include "app/DeviceCommand.h"

#include <algorithm>
#include <optional>
#include <ostream>
#include <sstream>

#include "app/DeviceCommandCatalogue.h"

#include "app/PageCommands.h"
#include "control/ControlClient.h"
#include "control/RunningShells.h"
#include "json/JsonCodec.h"

namespace tavero::app {
namespace {

constexpr const char* kUsage =
    "usage: tavero device [--home DIR | --app BUNDLE-ID] COMMAND ...\n"
    "       tavero device help                 lists the commands (those of the running app, if any)\n"
    "       tavero device COMMAND --help       describes one\n";

bool asksForHelp(const std::vector<std::string>& words) {
  return std::any_of(words.begin(), words.end(),
                     [](const std::string& word) { return word == "--help" || word == "-h"; });
}

// The commands whose first word is `group` ("alert": alert list, alert
// press), one help line each; nullopt when there are none.
std::optional<std::string> groupHelp(const DeviceCommandCatalogue& catalogue, const std::string& group) {
  std::istringstream lines(catalogue.helpText());
  std::string found;
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with(group + " ")) found += line + "\n";
  if (found.empty()) return std::nullopt;
  return "usage: tavero device " + group + " ...\n" + found;
}

// `tavero device COMMAND ... --help`, answered without the app: every app
// has the same commands.
int describeCommand(std::vector<std::string> words, std::ostream& out, std::ostream& err) {
  std::erase_if(words, [](const std::string& word) { return word == "--help" || word == "-h"; });
  DeviceCommandCatalogue catalogue;
  auto help = catalogue.commandHelp(words);
  if (!help && words.size() == 1) help = groupHelp(catalogue, words.front());
  if (!help) {
    err << "tavero device: no command \"" << (words.empty() ? std::string() : words.front())
        << "\" (\"tavero device help\" lists them)\n";
    return 2;
  }
  out << *help;
  return 0;
}

// The list every app answers to `help`, for when no app answers.
void printCatalogue(const std::string& why, std::ostream& out, std::ostream& err) {
  err << "tavero device: " << why << "; these are the commands every app has\n";
  out << DeviceCommandCatalogue().helpText();
}

std::string describe(const control::RunningShell& shell) {
  return "  " + shell.bundleIdentifier + "  (home " + shell.home.string() + ", pid " + std::to_string(shell.pid) +
         ")\n";
}

}  // namespace

std::variant<std::filesystem::path, std::string> chooseControlSocket(const std::string& home,
                                                                     const std::string& bundleIdentifier,
                                                                     const std::filesystem::path& runningShells) {
  if (!home.empty()) return std::filesystem::absolute(home) / "control.sock";
  auto listed = control::RunningShells(runningShells).list();
  if (auto* error = std::get_if<std::string>(&listed)) return *error + "; name the app's home with --home DIR";
  std::vector<control::RunningShell> shells;
  for (auto& shell : std::get<std::vector<control::RunningShell>>(listed)) {
    if (bundleIdentifier.empty() || shell.bundleIdentifier == bundleIdentifier) shells.push_back(std::move(shell));
  }
  if (shells.size() == 1) return shells.front().socketPath();
  if (shells.empty()) {
    if (!bundleIdentifier.empty()) return "no running app has the bundle id \"" + bundleIdentifier + "\"";
    return std::string("no app is running (start one with \"tavero run BUNDLE\", or name its home with --home DIR)");
  }
  std::string list;
  for (const auto& shell : shells) list += describe(shell);
  if (!bundleIdentifier.empty())
    return "several apps with the bundle id \"" + bundleIdentifier + "\" are running; choose one with --home DIR:\n" +
           list;
  return "several apps are running; choose one with --app BUNDLE-ID or --home DIR:\n" + list;
}

int runDevice(const std::vector<std::string>& args, const std::filesystem::path& runningShells, std::ostream& out,
              std::ostream& err) {
  std::string home, bundleIdentifier;
  size_t i = 0;
  for (; i < args.size(); ++i) {
    if ((args[i] == "--home" || args[i] == "--app") && i + 1 < args.size()) {
      (args[i] == "--home" ? home : bundleIdentifier) = args[i + 1];
      ++i;
    } else if (args[i] == "--help" || args[i] == "-h") {
      out << kUsage;
      return 0;
    } else if (args[i].starts_with("--")) {
      err << "tavero device: unknown option \"" << args[i] << "\"\n" << kUsage;
      return 2;
    } else {
      break;
    }
  }
  if (!home.empty() && !bundleIdentifier.empty()) {
    err << "tavero device: give --home or --app, not both\n" << kUsage;
    return 2;
  }
  std::vector<std::string> words(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  if (words.empty()) {
    err << "tavero device: which command? (\"tavero device help\" lists them)\n" << kUsage;
    return 2;
  }
  if (asksForHelp(words)) return describeCommand(words, out, err);
  const bool listing = words == std::vector<std::string>{"help"};
  auto socket = chooseControlSocket(home, bundleIdentifier, runningShells);
  if (auto* error = std::get_if<std::string>(&socket)) {
    if (listing) {
      printCatalogue(*error, out, err);
      return 0;
    }
    err << "tavero device: " << *error << "\n";
    return 1;
  }
  words = PageCommands::wordsToSend(std::move(words));
  control::ControlAnswer answer = control::ControlClient::send(std::get<std::filesystem::path>(socket), words,
                                                               PageCommands::answerTimeout(words));
  if (!answer.ok() && listing) {
    printCatalogue(answer.errorMessage(), out, err);
    return 0;
  }
  if (!answer.ok()) {
    err << "tavero device: " << answer.errorMessage() << "\n";
    return 1;
  }
  if (const std::string* text = answer.value().ifString()) {
    out << *text;
    if (text->empty() || text->back() != '\n') out << "\n";
  } else {
    out << json::JsonCodec::jsonStringForValue(answer.value(), 0) << "\n";
  }
  return 0;
}

}  // namespace tavero::app
