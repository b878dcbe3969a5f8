#include "app/ApplicationLifecycle.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "log/Log.h"

namespace tavero::app {
namespace {

// What the platform would hand over as a URL: a scheme, then no white
// space or control characters (pages receive it as it is).
bool isIncomingURL(std::string_view url) {
  size_t colon = url.find(':');
  if (colon == 0 || colon == std::string_view::npos || url.size() > 64 * 1024) return false;
  if (!std::isalpha(static_cast<unsigned char>(url[0]))) return false;
  for (char c : url.substr(0, colon))
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
  return std::none_of(url.begin(), url.end(), [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; });
}

}  // namespace

ApplicationLifecycle::ApplicationLifecycle(host::TQAppDelegate& delegate, std::function<void()> terminate)
    : delegate_(delegate), terminate_(std::move(terminate)) {}

bool ApplicationLifecycle::enterBackground() {
  if (state_ == State::Background) return false;
  state_ = State::Background;
  log::info("lifecycle: the app goes to the background");
  delegate_.willResignActive();
  delegate_.didEnterBackground();
  return true;
}

bool ApplicationLifecycle::enterForeground() {
  if (state_ == State::Active) return false;
  state_ = State::Active;
  log::info("lifecycle: the app comes back to the foreground");
  delegate_.willEnterForeground();
  delegate_.didBecomeActive();
  return true;
}

std::string ApplicationLifecycle::backgroundOutcome() {
  bool stopped = delegate_.waitForBridgeToStop();
  if (state_ == State::Active) return "the app came back to the foreground before the bridge stopped";
  if (!stopped) return "the app is in the background; the bridge is stopping";
  auto waited = delegate_.lastPauseWait();
  if (!waited) return "the app is in the background";
  return "the app is in the background (the bridge stopped " + std::to_string(waited->count()) +
         " ms after \"pause\")";
}

void ApplicationLifecycle::addControlCommands(control::ControlCommandRegistry& commands) {
  addControlCommands(commands, this);
}

void ApplicationLifecycle::addControlCommands(control::ControlCommandRegistry& commands,
                                              ApplicationLifecycle* lifecycle) {
  using control::ControlAnswer;
  commands.add({.name = "app background",
                .usage = "",
                .help = "sends the app to the background: pages hear \"pause\", the bridge serves the calls "
                        "their handlers make and then stops (at most 5 s later); answers once it stopped",
                .thread = control::ControlThread::Main,
                .handler = [lifecycle](control::ControlArguments& args) {
                  args.end();
                  if (!lifecycle->enterBackground())
                    return ControlAnswer::error("the app is already in the background");
                  return ControlAnswer::value(lifecycle->backgroundOutcome());
                }});
  commands.add({.name = "app foreground",
                .usage = "",
                .help = "brings the app back: the bridge listens again, then pages hear \"resume\"",
                .thread = control::ControlThread::Main,
                .handler = [lifecycle](control::ControlArguments& args) {
                  args.end();
                  if (!lifecycle->enterForeground())
                    return ControlAnswer::error("the app is already in the foreground");
                  return ControlAnswer::value("the app is in the foreground");
                }});
  commands.add({.name = "app terminate",
                .usage = "",
                .help = "ends the app as closing its window does (local storage is backed up first)",
                .thread = control::ControlThread::Main,
                .handler = [lifecycle](control::ControlArguments& args) {
                  args.end();
                  if (!lifecycle->terminate_)
                    return ControlAnswer::error("this shell cannot be ended from the control interface");
                  lifecycle->terminate_();
                  return ControlAnswer::value("the app is ending");
                }});
  commands.add({.name = "url open",
                .usage = "URL [--from APP]",
                .help = "opens the app with URL, as another application APP would: pages see it as "
                        "device.scheme and hear it",
                .thread = control::ControlThread::Main,
                .handler = [lifecycle](control::ControlArguments& args) {
                  std::string source = args.option("--from").value_or("");
                  std::string url = args.next("URL");
                  args.end();
                  if (!isIncomingURL(url))
                    throw control::ControlUsageError("URL must be a URL with a scheme (like myapp://note/1) and no "
                                                     "spaces or control characters, not " +
                                                     control::ControlArguments::quoted(url));
                  lifecycle->delegate_.openURL(url, source);
                  return ControlAnswer::value("the app was opened with " + url);
                }});
}

}  // namespace tavero::app
