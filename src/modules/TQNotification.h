// Alerts and vibration for the page. `show` puts up a native alert with the
// page's title, message and buttons and reports the pressed button's title
// in lower case; `vibrate` makes the device vibrate once.
//
// Buttons come as "buttons", titles joined by "," (so a title cannot hold a
// comma), or as "buttonTitles", a JSON array of texts (1 to kMaxButtons),
// which wins when both are there. An alert shown with "buttonTitles" is
// answered with {"index", "title", "button"}: the pressed button's
// position, exact title and title in lower case. A "buttonTitles" that is
// not such an array is refused: "Refused: ..." through the optional
// "failure" callback, which also hears kNoWindowText from a shell without
// a window. Failures go to the page that called, presses to the start page.
//
// The pressed button is reported under the callback id of the latest
// `show`, into the start page, whichever page showed the alert. An alert
// without a "buttons" argument gets one "OK" button, so that it can be
// dismissed.
//
// Thread rules: show and vibrate on bridge threads; show builds the alert
// on the main thread and waits only until it is shown; the button press
// arrives on the main thread. State is guarded.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/AliveToken.h"
#include "base/MainThread.h"
#include "bridge/CallbackDelivery.h"
#include "bridge/TQW3CAction.h"
#include "json/JsonValue.h"
#include "platform/AlertPresenter.h"
#include "platform/Vibrator.h"

namespace tavero::modules {

class TQNotification : public bridge::TQW3CAction {
 public:
  static constexpr std::string_view className = "TQNotification";
  // How long `show` waits for the main thread to show its alert.
  static constexpr std::chrono::seconds kShowWaitLimit{10};
  static constexpr size_t kMaxButtons = 16;
  static constexpr std::string_view kNoWindowText = "This shell has no window to show alerts in";

  // Any of the services may be null (a shell without a window: alerts are
  // not shown; without a vibrator: nothing vibrates); each is logged.
  TQNotification(bridge::CallbackDelivery& callbacks, base::MainThread* mainThread,
                 platform::AlertPresenter* alerts, platform::Vibrator* vibrator);

  void show(bridge::Invocation& invocation);
  void vibrate(bridge::Invocation& invocation);

  // The titles of "buttons": split at every ",", nothing trimmed or
  // dropped ("" gives one empty title).
  static std::vector<std::string> buttonTitles(std::string_view buttons);
  // The titles of "buttonTitles", or why they are refused.
  static std::variant<std::vector<std::string>, std::string> titlesFromList(const json::Value* list);

 private:
  // How the latest alert is answered.
  struct Answer {
    int callback = 0;
    int failure = 0;
    bool detailed = false;  // {index, title, button} rather than the lower-case title
  };

  void showInternal(platform::AlertRequest request, Answer answer);  // main thread
  void alertViewClickedButton(int index, const std::string& title);   // main thread

  bridge::CallbackDelivery& callbacks_;
  base::MainThread* mainThread_;
  platform::AlertPresenter* alerts_;
  platform::Vibrator* vibrator_;
  // Alerts queued on the main thread check this, so that one running after
  // the module is gone does nothing.
  base::AliveToken alive_;
  mutable std::mutex mutex_;  // guards answer_
  Answer answer_;
};

}  // namespace tavero::modules
