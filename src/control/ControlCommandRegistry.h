// The commands of the control interface: what `tavero device COMMAND ...`
// and tests can ask of a running shell (press an alert button, deliver a push
// notification, send the app to the background...). Any service of the shell
// adds its commands here; the control server (ControlServer.h) and tests
// run them.
//
// A command is named by one or more words ("alert press") and has a usage
// (what follows the name), one line of help, the thread it must run on and a
// handler. The handler reads its words through ControlArguments and returns
// a ControlAnswer: a JSON value, or an error message for the user.
//
// How a service adds its commands (say a simulated compass):
//
//   void SimulatedCompass::addControlCommands(control::ControlCommandRegistry& commands) {
//     commands.add({
//         .name = "compass set",
//         .usage = "DEGREES",
//         .help = "points the device to DEGREES (0 to 359); watching pages hear it",
//         .thread = control::ControlThread::Main,
//         .handler = [this](control::ControlArguments& args) {
//           int64_t degrees = args.integer("DEGREES", 0, 359);
//           args.end();  // every word read: act now
//           setHeading(static_cast<int>(degrees));
//           return control::ControlAnswer::value("heading " + std::to_string(degrees));
//         },
//     });
//     commands.addEventKind("headings", "the headings set so far, oldest first",
//                           [this] { return json::Value(recordedHeadings()); });
//   }
//
// `tavero device help` lists every command; `tavero device events KIND`
// answers the recorded events of one kind, and `tavero device events` all
// kinds at once.
//
// Thread rules: every function may be called from any thread. Handlers run
// on the main thread (ControlThread::Main, for anything that touches web
// views, windows or modules) or on the calling thread (ControlThread::Any,
// for handlers that only read or change state guarded by their own lock).
// Event sources run on the calling thread and must be safe there.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/AliveToken.h"
#include "base/MainThread.h"
#include "control/ControlAnswer.h"
#include "control/ControlArguments.h"
#include "control/ControlReply.h"

namespace tavero::control {

enum class ControlThread { Any, Main };

struct ControlCommand {
  std::string name;   // the words that select the command: "push deliver"
  std::string usage{};  // what follows the name, for help: "JSON"; empty when nothing does
  std::string help;   // one line
  ControlThread thread = ControlThread::Main;
  std::function<ControlAnswer(ControlArguments&)> handler;
  // For a command that answers later (a script running in a page): used
  // instead of `handler`. It reads its words at once, on the command's
  // thread, and hands the answer to the reply when it has it, from any
  // thread; a usage error it throws answers at once.
  std::function<void(ControlArguments&, ControlReply)> deferredHandler{};
};

class ControlCommandRegistry {
 public:
  using EventSource = std::function<json::Value()>;

  // `mainThread` runs the ControlThread::Main handlers; null runs every
  // handler on the calling thread (unit tests without a main loop).
  explicit ControlCommandRegistry(base::MainThread* mainThread);
  ~ControlCommandRegistry();

  ControlCommandRegistry(const ControlCommandRegistry&) = delete;
  ControlCommandRegistry& operator=(const ControlCommandRegistry&) = delete;

  // Adds a command. A command of the same name is replaced (with a log line:
  // two services claiming one name is a mistake).
  void add(ControlCommand command);

  // Adds a kind of recorded events to the "events" command.
  void addEventKind(std::string kind, std::string help, EventSource source);

  // Runs the command that `words` name and waits for its answer.
  // REQUIRES: for a Main command called off the main thread, the main loop
  // is running. A deferred command run on the main thread answers with an
  // error (its answer needs the main loop this call would block): use
  // execute() there.
  ControlAnswer run(const std::vector<std::string>& words);

  // Runs the command that `words` name and hands its answer to `done`: on
  // the main thread for Main commands, else on the calling thread. Never
  // waits for the main thread. When the registry is destroyed before a
  // queued command runs, `done` gets an error answer on the main thread.
  void execute(std::vector<std::string> words, std::function<void(ControlAnswer)> done);

  // One line per command, "name usage   help", sorted by name.
  std::string helpText() const;
  // "usage: tavero device NAME USAGE" and the help line of the command
  // whose name `words` begin with; nullopt when no command's does.
  std::optional<std::string> commandHelp(const std::vector<std::string>& words) const;

 private:
  using CommandPointer = std::shared_ptr<const ControlCommand>;
  struct Match {
    CommandPointer command;
    std::vector<std::string> arguments;  // the words after the command's name
  };

  // The command whose name is the longest prefix of `words`, or an error
  // answer saying what was not understood.
  std::variant<Match, ControlAnswer> find(const std::vector<std::string>& words) const;
  static ControlAnswer invoke(const ControlCommand& command, std::vector<std::string> arguments);
  static void invokeDeferred(const ControlCommand& command, std::vector<std::string> arguments,
                             ControlReply reply);
  static void invokeAny(const ControlCommand& command, std::vector<std::string> arguments,
                        std::function<void(ControlAnswer)> done);
  ControlAnswer runDeferred(std::vector<std::string> words);
  bool runsHere(const ControlCommand& command) const;
  void addBuiltInCommands();
  ControlAnswer events(ControlArguments& args) const;
  std::string eventKindsUsage() const;

  base::MainThread* mainThread_;
  // Main-thread tasks queued by execute() check this, so that one running
  // after the registry is gone does nothing.
  base::AliveToken alive_;

  mutable std::mutex mutex_;  // guards commands_ and eventKinds_
  std::map<std::string, CommandPointer, std::less<>> commands_;  // by name
  struct EventKind {
    std::string help;
    std::shared_ptr<const EventSource> source;
  };
  std::map<std::string, EventKind, std::less<>> eventKinds_;
};

}  // namespace tavero::control
