// Alerts as GTK message dialogs over the app's window: the title as the
// main text, the message below it, the buttons in the given order with
// their texts exactly as given (no mnemonics). A dialog cannot be closed
// without pressing a button, as on a phone.
//
// The control commands `alert list` and `alert press INDEX [--alert ID]`
// see and press the open alerts, so scripts and tests can answer them.
//
// Thread rules: main thread only (the control commands run there).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "control/ControlCommandRegistry.h"
#include "platform/AlertPresenter.h"

typedef struct _GtkWindow GtkWindow;
typedef struct _GtkWidget GtkWidget;

namespace tavero::platform {

class GtkAlertPresenter : public AlertPresenter {
 public:
  // Dialogs are kept above `parent` (may be null).
  explicit GtkAlertPresenter(GtkWindow* parent);
  ~GtkAlertPresenter() override;

  void showAlert(AlertRequest alert, std::function<void(int buttonIndex)> onPressed) override;

  struct OpenAlert {
    int id;  // 1 for the first alert of the run, then counting up
    AlertRequest request;
  };
  // The alerts on screen, oldest first.
  std::vector<OpenAlert> openAlerts() const;
  struct PressedButton {
    int alertId;
    std::string title;
  };
  // Presses button `buttonIndex` of alert `alertId` (the newest without
  // one), as the user would; a message when there is no such button.
  std::variant<PressedButton, std::string> press(std::optional<int> alertId, int buttonIndex);

  // Adds `alert list` and `alert press`.
  void addControlCommands(control::ControlCommandRegistry& commands);

 private:
  struct Alert;
  void pressed(Alert* alert, int buttonIndex);

  GtkWindow* parent_;
  int nextId_ = 1;
  std::vector<std::unique_ptr<Alert>> alerts_;  // oldest first
};

}  // namespace tavero::platform
