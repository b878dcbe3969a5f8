#include "app/PageCommands.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "base/AtomicFile.h"
#include "control/ControlClient.h"
#include "log/Log.h"

namespace tavero::app {

using control::ControlAnswer;
using control::ControlArguments;
using control::ControlReply;
using control::ControlUsageError;
using platform::ScriptResult;

namespace {

// The error answer for a script that gave no value.
ControlAnswer failure(const ScriptResult& result) {
  switch (result.kind) {
    case ScriptResult::Kind::Exception:
      return ControlAnswer::error("the script failed: " + result.text);
    case ScriptResult::Kind::Invalid:
      return ControlAnswer::error("the script is not JavaScript: " + result.text);
    default:
      return ControlAnswer::error(result.text);
  }
}

// The wait's script: the expression's value in a one-element array when it
// is true, an empty array when it is not (a value may be false, 0 or "").
std::string waitScript(const std::string& expression) {
  return "(async () => { const value = await (\n" + expression + "\n); return value ? [value] : []; })()";
}

std::string secondsText(std::chrono::milliseconds time) {
  std::string text = std::to_string(time.count() / 1000);
  if (time.count() % 1000) text += "." + std::to_string(time.count() % 1000 + 1000).substr(1);
  return text + " s";
}

}  // namespace

// One `page wait`: asks the page again and again, each time after the
// previous answer and a pause, until the expression is true or the time is
// up. Errors on the way (an element not there yet, a page loading another
// document) count as "not yet"; the last one is told when the time is up.
class PageCommands::Wait : public std::enable_shared_from_this<Wait> {
 public:
  Wait(PageCommands& owner, int id, std::optional<std::string> page, std::string expression,
       std::chrono::milliseconds limit, ControlReply reply)
      : owner_(owner),
        id_(id),
        page_(std::move(page)),
        expression_(std::move(expression)),
        limit_(limit),
        deadline_(std::chrono::steady_clock::now() + limit),
        reply_(std::move(reply)) {}

  void ask() {
    if (std::chrono::steady_clock::now() >= deadline_) {
      giveUp();
      return;
    }
    platform::WebView* view = owner_.findPage_(page_.value_or(""));
    if (!view) {
      lastProblem_ = "there is no page named \"" + page_.value_or("") + "\"";
      askAgainOrGiveUp();
      return;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
    platform::ScriptLimits limits{.maxResultLength = owner_.limits_.maxResultLength,
                                  .timeout = std::max(left, std::chrono::milliseconds(1))};
    view->evaluateForResult(waitScript(expression_), limits,
                            owner_.alive_.guard([weak = weak_from_this()](ScriptResult result) {
                              if (auto self = weak.lock()) self->answered(std::move(result));
                            }));
  }

 private:
  void answered(ScriptResult result) {
    if (result.kind == ScriptResult::Kind::Value && result.text != "[]" && result.text.size() >= 2) {
      finish(ControlAnswer::value(result.text.substr(1, result.text.size() - 2)));
      return;
    }
    if (result.kind == ScriptResult::Kind::Invalid) {
      finish(failure(result));
      return;
    }
    if (result.kind != ScriptResult::Kind::Value) lastProblem_ = failure(result).errorMessage();
    askAgainOrGiveUp();
  }

  void askAgainOrGiveUp() {
    if (std::chrono::steady_clock::now() >= deadline_) {
      giveUp();
      return;
    }
    next_ = owner_.timers_.schedule(owner_.limits_.pollInterval, false, [weak = weak_from_this()] {
      if (auto self = weak.lock()) self->ask();
    });
  }

  void giveUp() {
    std::string message = "the expression was not true within " + secondsText(limit_);
    if (!lastProblem_.empty()) message += " (the last attempt: " + lastProblem_ + ")";
    finish(ControlAnswer::error(message));
  }

  void finish(ControlAnswer answer) {
    reply_(std::move(answer));
    owner_.finishWait(id_);  // may destroy this object
  }

  PageCommands& owner_;
  int id_;
  std::optional<std::string> page_;
  std::string expression_;
  std::chrono::milliseconds limit_;
  std::chrono::steady_clock::time_point deadline_;
  ControlReply reply_;
  std::string lastProblem_;
  std::unique_ptr<base::Timer> next_;
};

PageCommands::PageCommands(FindPage findPage, SnapshotWindow snapshotWindow, base::MainLoopTimers& timers,
                           Limits limits)
    : findPage_(std::move(findPage)), snapshotWindow_(std::move(snapshotWindow)), timers_(timers), limits_(limits) {}

// Waits still running answer (with an error) as their replies go.
PageCommands::~PageCommands() = default;

void PageCommands::addControlCommands(control::ControlCommandRegistry& commands) {
  commands.add({.name = "page eval",
                .usage = "[--page NAME] SCRIPT",
                .help = "runs SCRIPT (an expression, or a body whose return gives the value) in the start page or "
                        "page NAME and prints its value as JSON; a promise is awaited",
                .thread = control::ControlThread::Main,
                .handler = {},
                .deferredHandler = [this](ControlArguments& args, ControlReply reply) { evaluate(args, reply); }});
  commands.add({.name = "page wait",
                .usage = "[--page NAME] [--timeout S] EXPRESSION",
                .help = "waits until EXPRESSION is true in the start page or page NAME (at most S seconds, "
                        "10 by default) and prints its value as JSON",
                .thread = control::ControlThread::Main,
                .handler = {},
                .deferredHandler = [this](ControlArguments& args, ControlReply reply) { startWait(args, reply); }});
  commands.add({.name = "screenshot",
                .usage = "FILE [--window | --page NAME]",
                .help = "writes a PNG of the whole window with its dialogs (the default) or of page NAME to FILE",
                .thread = control::ControlThread::Main,
                .handler = {},
                .deferredHandler = [this](ControlArguments& args, ControlReply reply) { screenshot(args, reply); }});
}

platform::WebView& PageCommands::pageView(const std::optional<std::string>& name) const {
  if (name && name->empty()) throw ControlUsageError("--page needs a page name");
  platform::WebView* view = findPage_(name.value_or(""));
  if (!view) {
    throw ControlUsageError(name ? "there is no page named " + ControlArguments::quoted(*name)
                                 : std::string("the app has no start page yet"));
  }
  return *view;
}

void PageCommands::evaluate(ControlArguments& args, ControlReply reply) {
  auto page = args.option("--page");
  std::string script = args.rest("SCRIPT");
  args.end();
  platform::WebView& view = pageView(page);
  view.evaluateForResult(script, {.maxResultLength = limits_.maxResultLength, .timeout = limits_.evaluationTimeout},
                         [reply](ScriptResult result) {
                           if (result.kind == ScriptResult::Kind::Value)
                             reply(ControlAnswer::value(std::move(result.text)));
                           else
                             reply(failure(result));
                         });
}

std::chrono::milliseconds PageCommands::waitTime(const std::optional<std::string>& seconds) const {
  if (!seconds) return limits_.defaultWait;
  char* end = nullptr;
  double value = std::strtod(seconds->c_str(), &end);
  double longest = static_cast<double>(limits_.longestWait.count()) / 1000;
  if (seconds->empty() || end != seconds->c_str() + seconds->size() || !std::isfinite(value) || value <= 0 ||
      value > longest) {
    throw ControlUsageError("--timeout takes a number of seconds above 0 and at most " +
                            secondsText(limits_.longestWait) + ", not " + ControlArguments::quoted(*seconds));
  }
  return std::max(std::chrono::milliseconds(1), std::chrono::milliseconds(std::llround(value * 1000)));
}

void PageCommands::startWait(ControlArguments& args, ControlReply reply) {
  auto page = args.option("--page");
  auto limit = waitTime(args.option("--timeout"));
  std::string expression = args.rest("EXPRESSION");
  args.end();
  pageView(page);  // a page that does not exist is a mistake to tell at once
  int id = nextWaitId_++;
  auto wait = std::make_shared<Wait>(*this, id, page, std::move(expression), limit, std::move(reply));
  waits_[id] = wait;
  wait->ask();
}

void PageCommands::finishWait(int id) { waits_.erase(id); }

void PageCommands::screenshot(ControlArguments& args, ControlReply reply) {
  bool window = args.flag("--window");
  auto page = args.option("--page");
  std::filesystem::path file = args.next("FILE");
  args.end();
  if (window && page) throw ControlUsageError("give --window or --page, not both");
  if (!file.is_absolute()) throw ControlUsageError("FILE must be an absolute path (tavero device makes it one)");
  auto write = [reply, file](platform::Snapshot picture) {
    if (picture.png.empty()) {
      reply(ControlAnswer::error("no picture: " + (picture.error.empty() ? std::string("unknown reason") : picture.error)));
      return;
    }
    if (auto error = base::writeFileAtomically(file, picture.png, 0644)) {
      reply(ControlAnswer::error("cannot write " + file.string() + ": " + *error));
      return;
    }
    reply(ControlAnswer::value("wrote " + file.string() + " (" + std::to_string(picture.width) + "x" +
                               std::to_string(picture.height) + ")"));
  };
  if (page)
    pageView(page).snapshot(std::move(write));
  else
    snapshotWindow_(std::move(write));
}

std::vector<std::string> PageCommands::wordsToSend(std::vector<std::string> words) {
  if (words.empty() || words.front() != "screenshot") return words;
  for (size_t i = 1; i < words.size(); ++i) {
    if (words[i] == "--page") {
      ++i;  // its value
    } else if (!words[i].starts_with("--")) {
      std::error_code ec;
      auto absolute = std::filesystem::absolute(words[i], ec);
      if (!ec) words[i] = absolute.lexically_normal().string();
      break;
    }
  }
  return words;
}

std::chrono::milliseconds PageCommands::answerTimeout(const std::vector<std::string>& words) {
  constexpr std::chrono::seconds kSpare{15};  // the app answers by the wait's end; this is for a busy app
  if (words.size() >= 2 && words[0] == "page" && words[1] == "wait") return kLongestWait + kSpare;
  return control::ControlClient::kDefaultTimeout;
}

}  // namespace tavero::app
