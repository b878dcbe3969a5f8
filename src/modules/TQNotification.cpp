#include "modules/TQNotification.h"

#include <future>
#include <memory>

#include "log/Log.h"
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

void TQNotification::show(bridge::Invocation& invocation) {
  platform::AlertRequest request{std::string(invocation.text("title")), std::string(invocation.text("message")), {}};
  if (invocation.arguments().contains("buttons")) {
    request.buttons = buttonTitles(invocation.text("buttons"));
  } else {
    request.buttons = {"OK"};  // an alert without a button could never be dismissed
  }
  int callback = invocation.integer("callback");
  if (!mainThread_ || !alerts_) {
    log::warning("alert: this shell has no window to show alerts in; \"" + request.title + "\" was not shown");
    return;
  }
  if (mainThread_->isMainThread()) {
    showInternal(std::move(request), callback);
    return;
  }
  // Wait until the alert is shown, but not forever: while the shell shuts
  // down, the main thread waits for this very operation and runs nothing.
  auto shown = std::make_shared<std::promise<void>>();
  std::future<void> done = shown->get_future();
  mainThread_->post([this, alive = alive_.watch(), request = std::move(request), callback,
                     shown]() mutable {
    if (alive) showInternal(std::move(request), callback);
    shown->set_value();
  });
  if (done.wait_for(kShowWaitLimit) != std::future_status::ready)
    log::warning("alert: the main thread did not show the alert within " +
                 std::to_string(kShowWaitLimit.count()) + " s; the alert may still appear");
}

void TQNotification::showInternal(platform::AlertRequest request, int callback) {
  {
    std::lock_guard lock(mutex_);
    callback_ = callback;
  }
  std::vector<std::string> titles = request.buttons;
  alerts_->showAlert(std::move(request), [this, titles = std::move(titles)](int index) {
    if (index >= 0 && static_cast<size_t>(index) < titles.size()) alertViewClickedButton(titles[index]);
  });
}

void TQNotification::alertViewClickedButton(const std::string& title) {
  int callback;
  {
    std::lock_guard lock(mutex_);
    callback = callback_;  // the latest show's, whichever alert was pressed
  }
  callbacks_.invokeCallback(callback, json::Value(lowercased(title)));
}

void TQNotification::vibrate(bridge::Invocation&) {
  if (!vibrator_) {
    log::warning("vibration: this shell has no vibrator");
    return;
  }
  vibrator_->vibrate();
}

}  // namespace tavero::modules
