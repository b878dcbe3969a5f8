#include "modules/TQNotification.h"

#include <future>
#include <memory>

#include "log/Log.h"
#include "log/RefusalLog.h"
#include "modules/TextCase.h"

namespace tavero::modules {

TQNotification::TQNotification(bridge::CallbackDelivery& callbacks, base::MainThread* mainThread,
                               platform::AlertPresenter* alerts, platform::Vibrator* vibrator)
    : callbacks_(callbacks), mainThread_(mainThread), alerts_(alerts), vibrator_(vibrator) {
  addOperation("show", [this](bridge::Invocation& invocation) { show(invocation); });
  addOperation("vibrate", [this](bridge::Invocation& invocation) { vibrate(invocation); });
}

std::vector<std::string> TQNotification::buttonTitles(std::string_view buttons) {
  std::vector<std::string> titles;
  for (;;) {
    size_t comma = buttons.find(',');
    titles.emplace_back(buttons.substr(0, comma));
    if (comma == std::string_view::npos) return titles;
    buttons.remove_prefix(comma + 1);
  }
}

std::variant<std::vector<std::string>, std::string> TQNotification::titlesFromList(const json::Value* list) {
  if (!list || !list->isArray()) return std::string("buttonTitles must be a JSON array of texts");
  const json::Array& items = list->asArray();
  if (items.empty()) return std::string("buttonTitles must name at least one button");
  if (items.size() > kMaxButtons)
    return "buttonTitles may name at most " + std::to_string(kMaxButtons) + " buttons, not " +
           std::to_string(items.size());
  std::vector<std::string> titles;
  for (const json::Value& item : items) {
    const std::string* title = item.ifString();
    if (!title) return std::string("buttonTitles must be a JSON array of texts");
    titles.push_back(*title);
  }
  return titles;
}

void TQNotification::show(bridge::Invocation& invocation) {
  platform::AlertRequest request{std::string(invocation.text("title")), std::string(invocation.text("message")), {}};
  Answer answer{invocation.integer("callback"), invocation.integer("failure"), false};
  if (invocation.arguments().contains("buttonTitles")) {
    auto titles = titlesFromList(invocation.arguments().find("buttonTitles"));
    if (auto* why = std::get_if<std::string>(&titles)) {
      log::refusal("alert: refused an alert from " + invocation.pageName() + ": " + *why);
      if (answer.failure != 0)
        callbacks_.invokeCallback(answer.failure, json::Value("Refused: " + *why), invocation.pageName());
      return;
    }
    request.buttons = std::move(std::get<std::vector<std::string>>(titles));
    answer.detailed = true;
  } else if (invocation.arguments().contains("buttons")) {
    request.buttons = buttonTitles(invocation.text("buttons"));
  } else {
    request.buttons = {"OK"};  // an alert without a button could never be dismissed
  }
  if (!mainThread_ || !alerts_) {
    log::warning("alert: this shell has no window to show alerts in; \"" + request.title + "\" was not shown");
    // Pages from before the "failure" argument heard nothing: no call to id 0.
    if (answer.failure != 0)
      callbacks_.invokeCallback(answer.failure, json::Value(std::string(kNoWindowText)), invocation.pageName());
    return;
  }
  if (mainThread_->isMainThread()) {
    showInternal(std::move(request), answer);
    return;
  }
  // Wait until the alert is shown, but not forever: while the shell shuts
  // down, the main thread waits for this very operation and runs nothing.
  auto shown = std::make_shared<std::promise<void>>();
  std::future<void> done = shown->get_future();
  mainThread_->post([this, alive = alive_.watch(), request = std::move(request), answer,
                     shown]() mutable {
    if (alive) showInternal(std::move(request), answer);
    shown->set_value();
  });
  if (done.wait_for(kShowWaitLimit) != std::future_status::ready)
    log::warning("alert: the main thread did not show the alert within " +
                 std::to_string(kShowWaitLimit.count()) + " s; the alert may still appear");
}

void TQNotification::showInternal(platform::AlertRequest request, Answer answer) {
  {
    std::lock_guard lock(mutex_);
    answer_ = answer;
  }
  std::vector<std::string> titles = request.buttons;
  alerts_->showAlert(std::move(request), [this, titles = std::move(titles)](int index) {
    if (index >= 0 && static_cast<size_t>(index) < titles.size()) alertViewClickedButton(index, titles[index]);
  });
}

void TQNotification::alertViewClickedButton(int index, const std::string& title) {
  Answer answer;
  {
    std::lock_guard lock(mutex_);
    answer = answer_;  // the latest show's, whichever alert was pressed
  }
  if (!answer.detailed) return callbacks_.invokeCallback(answer.callback, json::Value(lowercased(title)));
  json::Object pressed;
  pressed.append("index", static_cast<int64_t>(index));
  pressed.append("title", title);
  pressed.append("button", lowercased(title));
  callbacks_.invokeCallback(answer.callback, json::Value(std::move(pressed)));
}

void TQNotification::vibrate(bridge::Invocation&) {
  if (!vibrator_) {
    log::warning("vibration: this shell has no vibrator");
    return;
  }
  vibrator_->vibrate();
}

}  // namespace tavero::modules
