#include "control/ControlCommandRegistry.h"

#include <algorithm>
#include <exception>
#include <future>
#include <sstream>

#include "log/Log.h"

namespace tavero::control {
namespace {

std::vector<std::string> splitWords(std::string_view text) {
  std::vector<std::string> words;
  std::istringstream in{std::string(text)};
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string joinWords(const std::vector<std::string>& words, size_t count) {
  std::string joined;
  for (size_t i = 0; i < count && i < words.size(); ++i) joined += (i ? " " : "") + words[i];
  return joined;
}

std::string synopsis(const ControlCommand& command) {
  return command.usage.empty() ? command.name : command.name + " " + command.usage;
}

constexpr const char* kHelpHint = "\"tavero device help\" lists the commands";

}  // namespace

ControlCommandRegistry::ControlCommandRegistry(base::MainThread* mainThread) : mainThread_(mainThread) {
  addBuiltInCommands();
}

ControlCommandRegistry::~ControlCommandRegistry() = default;

void ControlCommandRegistry::addBuiltInCommands() {
  add({.name = "help",
       .usage = "",
       .help = "lists every command with one line each",
       .thread = ControlThread::Any,
       .handler = [this](ControlArguments& args) {
         args.end();
         return ControlAnswer::value(helpText());
       }});
  add({.name = "events",
       .usage = "[KIND]",
       .help = "the events the device recorded, of one kind or of every kind",
       .thread = ControlThread::Any,
       .handler = [this](ControlArguments& args) { return events(args); }});
}

void ControlCommandRegistry::add(ControlCommand command) {
  command.name = joinWords(splitWords(command.name), SIZE_MAX);
  if (command.name.empty() || (!command.handler && !command.deferredHandler)) {
    log::error("control: a command without a name or a handler was not added");
    return;
  }
  std::lock_guard lock(mutex_);
  auto pointer = std::make_shared<const ControlCommand>(std::move(command));
  auto [it, added] = commands_.try_emplace(pointer->name, pointer);
  if (!added) {
    log::warning("control: the command \"" + pointer->name + "\" was added twice; the later one is kept");
    it->second = pointer;
  }
}

void ControlCommandRegistry::addEventKind(std::string kind, std::string help, EventSource source) {
  std::lock_guard lock(mutex_);
  eventKinds_[std::move(kind)] = EventKind{std::move(help), std::make_shared<const EventSource>(std::move(source))};
}

std::variant<ControlCommandRegistry::Match, ControlAnswer> ControlCommandRegistry::find(
    const std::vector<std::string>& words) const {
  if (words.empty()) return ControlAnswer::error(std::string("no command given; ") + kHelpHint);
  std::lock_guard lock(mutex_);
  CommandPointer best;
  size_t bestLength = 0;
  std::vector<std::string> sameGroup;  // commands that share the first word
  for (const auto& [name, command] : commands_) {
    std::vector<std::string> nameWords = splitWords(name);
    if (nameWords.front() == words.front()) sameGroup.push_back(synopsis(*command));
    if (nameWords.size() <= words.size() && nameWords.size() > bestLength &&
        std::equal(nameWords.begin(), nameWords.end(), words.begin())) {
      best = command;
      bestLength = nameWords.size();
    }
  }
  if (best) return Match{best, std::vector<std::string>(words.begin() + static_cast<std::ptrdiff_t>(bestLength), words.end())};
  std::string asked = ControlArguments::quoted(joinWords(words, sameGroup.empty() ? 1 : 2));
  if (sameGroup.empty()) return ControlAnswer::error("unknown command " + asked + "; " + kHelpHint);
  std::string choices;
  for (const auto& choice : sameGroup) choices += (choices.empty() ? "" : " | ") + choice;
  return ControlAnswer::error("unknown command " + asked + "; the " + words.front() + " commands are: " + choices);
}

ControlAnswer ControlCommandRegistry::invoke(const ControlCommand& command, std::vector<std::string> arguments) {
  ControlArguments args(std::move(arguments));
  try {
    if (!command.handler) return ControlAnswer::error("the command \"" + command.name + "\" answers later");
    return command.handler(args);
  } catch (const ControlUsageError& e) {
    return ControlAnswer::error(std::string(e.what()) + "\nusage: tavero device " + synopsis(command));
  } catch (const std::exception& e) {
    log::error("control: the command \"" + command.name + "\" failed unexpectedly: " + e.what());
    return ControlAnswer::error("the command \"" + command.name + "\" failed: " + e.what());
  }
}

void ControlCommandRegistry::invokeDeferred(const ControlCommand& command, std::vector<std::string> arguments,
                                            ControlReply reply) {
  ControlArguments args(std::move(arguments));
  try {
    command.deferredHandler(args, reply);
  } catch (const ControlUsageError& e) {
    reply(ControlAnswer::error(std::string(e.what()) + "\nusage: tavero device " + synopsis(command)));
  } catch (const std::exception& e) {
    log::error("control: the command \"" + command.name + "\" failed unexpectedly: " + e.what());
    reply(ControlAnswer::error("the command \"" + command.name + "\" failed: " + e.what()));
  }
}

void ControlCommandRegistry::invokeAny(const ControlCommand& command, std::vector<std::string> arguments,
                                       std::function<void(ControlAnswer)> done) {
  if (command.deferredHandler)
    invokeDeferred(command, std::move(arguments), ControlReply(std::move(done)));
  else
    done(invoke(command, std::move(arguments)));
}

ControlAnswer ControlCommandRegistry::runDeferred(std::vector<std::string> words) {
  if (mainThread_ && mainThread_->isMainThread())
    return ControlAnswer::error("a command that answers later cannot be waited for on the main thread");
  auto answer = std::make_shared<std::promise<ControlAnswer>>();
  auto future = answer->get_future();
  execute(std::move(words), [answer](ControlAnswer given) { answer->set_value(std::move(given)); });
  return future.get();
}

bool ControlCommandRegistry::runsHere(const ControlCommand& command) const {
  return command.thread == ControlThread::Any || mainThread_ == nullptr || mainThread_->isMainThread();
}

ControlAnswer ControlCommandRegistry::run(const std::vector<std::string>& words) {
  auto found = find(words);
  if (auto* answer = std::get_if<ControlAnswer>(&found)) return *answer;
  auto& match = std::get<Match>(found);
  if (match.command->deferredHandler) return runDeferred(words);
  if (runsHere(*match.command)) return invoke(*match.command, std::move(match.arguments));
  return mainThread_->performAndWait([&] { return invoke(*match.command, std::move(match.arguments)); });
}

void ControlCommandRegistry::execute(std::vector<std::string> words, std::function<void(ControlAnswer)> done) {
  auto found = find(words);
  if (auto* answer = std::get_if<ControlAnswer>(&found)) {
    done(std::move(*answer));
    return;
  }
  auto& match = std::get<Match>(found);
  if (runsHere(*match.command)) {
    invokeAny(*match.command, std::move(match.arguments), std::move(done));
    return;
  }
  mainThread_->post([alive = alive_.watch(), command = match.command,
                     arguments = std::move(match.arguments), done = std::move(done)]() mutable {
    if (!alive) {
      done(ControlAnswer::error("the app is shutting down"));
      return;
    }
    invokeAny(*command, std::move(arguments), std::move(done));
  });
}

std::string ControlCommandRegistry::eventKindsUsage() const {
  std::string kinds;
  for (const auto& [kind, entry] : eventKinds_) kinds += (kinds.empty() ? "" : "|") + kind;
  return kinds.empty() ? "" : "[" + kinds + "]";
}

std::string ControlCommandRegistry::helpText() const {
  std::lock_guard lock(mutex_);
  std::vector<std::pair<std::string, std::string>> lines;
  size_t width = 0;
  for (const auto& [name, command] : commands_) {
    std::string left = name == "events" && !eventKinds_.empty() ? "events " + eventKindsUsage() : synopsis(*command);
    width = std::max(width, left.size());
    lines.emplace_back(std::move(left), command->help);
  }
  width = std::min<size_t>(width, 40);
  std::string text;
  for (const auto& [left, help] : lines) {
    text += left;
    text += left.size() < width ? std::string(width - left.size(), ' ') : std::string();
    text += "  " + help + "\n";
  }
  for (const auto& [kind, entry] : eventKinds_) text += "  events " + kind + ": " + entry.help + "\n";
  return text;
}

std::optional<std::string> ControlCommandRegistry::commandHelp(const std::vector<std::string>& words) const {
  auto found = find(words);
  auto* match = std::get_if<Match>(&found);
  if (!match) return std::nullopt;
  const ControlCommand& command = *match->command;
  std::lock_guard lock(mutex_);  // for the event kinds
  std::string usage =
      command.name == "events" && !eventKinds_.empty() ? "events " + eventKindsUsage() : synopsis(command);
  return "usage: tavero device " + usage + "\n  " + command.help + "\n";
}

ControlAnswer ControlCommandRegistry::events(ControlArguments& args) const {
  std::optional<std::string> kind = args.nextIfAny();
  args.end();
  std::vector<std::pair<std::string, std::shared_ptr<const EventSource>>> sources;
  {
    std::lock_guard lock(mutex_);
    if (kind) {
      auto it = eventKinds_.find(*kind);
      if (it == eventKinds_.end()) {
        std::string kinds = eventKindsUsage();
        throw ControlUsageError("no events of the kind " + ControlArguments::quoted(*kind) +
                                (kinds.empty() ? std::string(" (nothing records events)") : " (kinds: " + kinds + ")"));
      }
      sources.emplace_back(it->first, it->second.source);
    } else {
      for (const auto& [name, entry] : eventKinds_) sources.emplace_back(name, entry.source);
    }
  }
  if (kind) return ControlAnswer::value((*sources.front().second)());
  json::Object all;
  for (const auto& [name, source] : sources) all.append(name, (*source)());
  return ControlAnswer::value(json::Value(std::move(all)));
}

}  // namespace tavero::control
