// Native alert boxes: a title, a message and buttons, shown until the user
// presses one of the buttons.
//
// Thread rules: main thread only; `onPressed` is called on the main thread,
// once, with the index of the pressed button (0 for the first).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tavero::platform {

struct AlertRequest {
  std::string title;
  std::string message;
  std::vector<std::string> buttons;  // in order, shown as given (not trimmed)
};

class AlertPresenter {
 public:
  virtual ~AlertPresenter() = default;
  // Shows the alert and returns once it is on screen.
  // REQUIRES: at least one button (an alert without one cannot be dismissed).
  virtual void showAlert(AlertRequest alert, std::function<void(int buttonIndex)> onPressed) = 0;
};

}  // namespace tavero::platform
