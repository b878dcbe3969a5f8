// The page side of `tavero device`, for scripts and tests that want no
// WebDriver stack:
//
//   page eval [--page NAME] SCRIPT               the script's value as JSON
//   page wait [--page NAME] [--timeout S] EXPR   waits until EXPR is true
//   screenshot FILE [--window | --page NAME]     a PNG of the window or a page
//
// Scripts run only in the app's own documents (the web view refuses any
// other), in the start page without --page. Every command is bounded: a
// result's length, an evaluation's time, a wait's time (default and most);
// a page that never answers gets an error answer in time, and the control
// server serves its other clients meanwhile (the commands answer later,
// they do not hold a thread).
//
// Thread rules: main thread (the commands run there).
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/AliveToken.h"
#include "base/MainLoopTimers.h"
#include "control/ControlCommandRegistry.h"
#include "platform/WebView.h"

namespace tavero::app {

class PageCommands {
 public:
  struct Limits {
    size_t maxResultLength = 1 << 20;  // characters of a result's JSON text
    std::chrono::milliseconds evaluationTimeout{std::chrono::seconds(20)};
    std::chrono::milliseconds defaultWait{std::chrono::seconds(10)};
    std::chrono::milliseconds longestWait{kLongestWait};
    std::chrono::milliseconds pollInterval{100};
  };
  static constexpr std::chrono::seconds kLongestWait{300};

  // The view of the page named `name` (the start page's for an empty name),
  // or null when there is none.
  using FindPage = std::function<platform::WebView*(const std::string& name)>;
  // Takes a picture of the whole window, dialogs included.
  using SnapshotWindow = std::function<void(std::function<void(platform::Snapshot)>)>;

  PageCommands(FindPage findPage, SnapshotWindow snapshotWindow, base::MainLoopTimers& timers, Limits limits);
  PageCommands(FindPage findPage, SnapshotWindow snapshotWindow, base::MainLoopTimers& timers)
      : PageCommands(std::move(findPage), std::move(snapshotWindow), timers, Limits{}) {}
  ~PageCommands();

  void addControlCommands(control::ControlCommandRegistry& commands);

  // For `tavero device`, before it sends `words`: the screenshot's FILE
  // made absolute (the app writes it, from another working folder).
  static std::vector<std::string> wordsToSend(std::vector<std::string> words);
  // How long `tavero device` waits for the answer to `words` (a wait's
  // answer may take up to its longest time).
  static std::chrono::milliseconds answerTimeout(const std::vector<std::string>& words);

 private:
  class Wait;

  void evaluate(control::ControlArguments& args, control::ControlReply reply);
  void startWait(control::ControlArguments& args, control::ControlReply reply);
  void screenshot(control::ControlArguments& args, control::ControlReply reply);
  platform::WebView& pageView(const std::optional<std::string>& name) const;
  std::chrono::milliseconds waitTime(const std::optional<std::string>& seconds) const;
  void finishWait(int id);

  FindPage findPage_;
  SnapshotWindow snapshotWindow_;
  base::MainLoopTimers& timers_;
  Limits limits_;
  int nextWaitId_ = 1;
  std::map<int, std::shared_ptr<Wait>> waits_;  // the waits in progress, by id
  base::AliveToken alive_;  // late answers of a page reach nothing once this is gone
};

}  // namespace tavero::app
