#include "platform/linux/GtkAlertPresenter.h"

#include <gtk/gtk.h>

#include <algorithm>

#include "log/Log.h"

namespace tavero::platform {

struct GtkAlertPresenter::Alert {
  GtkAlertPresenter* presenter;
  int id;
  AlertRequest request;
  std::function<void(int)> onPressed;
  GtkWidget* dialog = nullptr;
};

GtkAlertPresenter::GtkAlertPresenter(GtkWindow* parent) : parent_(parent) {}

GtkAlertPresenter::~GtkAlertPresenter() {
  for (auto& alert : alerts_) {
    g_signal_handlers_disconnect_by_data(alert->dialog, alert.get());
    gtk_widget_destroy(alert->dialog);
  }
}

void GtkAlertPresenter::showAlert(AlertRequest request, std::function<void(int)> onPressed) {
  auto alert = std::make_unique<Alert>(Alert{this, nextId_++, std::move(request), std::move(onPressed)});
  GtkWidget* dialog = gtk_message_dialog_new(parent_, GTK_DIALOG_DESTROY_WITH_PARENT, GTK_MESSAGE_OTHER,
                                             GTK_BUTTONS_NONE, "%s", alert->request.title.c_str());
  if (!alert->request.message.empty())
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", alert->request.message.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), alert->request.title.c_str());
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_deletable(GTK_WINDOW(dialog), FALSE);
  for (size_t index = 0; index < alert->request.buttons.size(); ++index) {
    // A plain label: underscores and leading spaces are shown as the page gave them.
    GtkWidget* button = gtk_button_new_with_label(alert->request.buttons[index].c_str());
    gtk_dialog_add_action_widget(GTK_DIALOG(dialog), button, static_cast<int>(index));
    gtk_widget_show(button);
  }
  g_signal_connect(dialog, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean {
                     return TRUE;  // only a button dismisses an alert
                   }),
                   nullptr);
  g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog*, int response, gpointer data) {
                     auto* alert = static_cast<Alert*>(data);
                     if (response >= 0) alert->presenter->pressed(alert, response);
                   }),
                   alert.get());
  alert->dialog = dialog;
  log::info("alert: shown (alert " + std::to_string(alert->id) + ", " + std::to_string(alert->request.buttons.size()) +
            " buttons)");
  alerts_.push_back(std::move(alert));
  gtk_widget_show(dialog);
}

void GtkAlertPresenter::pressed(Alert* alert, int buttonIndex) {
  auto it = std::find_if(alerts_.begin(), alerts_.end(), [&](const auto& open) { return open.get() == alert; });
  if (it == alerts_.end()) return;
  std::unique_ptr<Alert> closing = std::move(*it);
  alerts_.erase(it);
  g_signal_handlers_disconnect_by_data(closing->dialog, closing.get());
  gtk_widget_destroy(closing->dialog);
  log::info("alert: button " + std::to_string(buttonIndex) + " of alert " + std::to_string(closing->id) + " pressed");
  if (closing->onPressed) closing->onPressed(buttonIndex);
}

std::vector<GtkAlertPresenter::OpenAlert> GtkAlertPresenter::openAlerts() const {
  std::vector<OpenAlert> open;
  for (const auto& alert : alerts_) open.push_back({alert->id, alert->request});
  return open;
}

std::variant<GtkAlertPresenter::PressedButton, std::string> GtkAlertPresenter::press(std::optional<int> alertId,
                                                                                    int buttonIndex) {
  if (alerts_.empty()) return std::string("no alert is open");
  Alert* alert = alerts_.back().get();
  if (alertId) {
    auto it = std::find_if(alerts_.begin(), alerts_.end(), [&](const auto& open) { return open->id == *alertId; });
    if (it == alerts_.end()) return "alert " + std::to_string(*alertId) + " is not open";
    alert = it->get();
  }
  int count = static_cast<int>(alert->request.buttons.size());
  if (buttonIndex < 0 || buttonIndex >= count) {
    return "alert " + std::to_string(alert->id) + " has " + std::to_string(count) + " button" +
           (count == 1 ? "" : "s") + ": INDEX goes from 0 to " + std::to_string(count - 1);
  }
  PressedButton pressed{alert->id, alert->request.buttons[static_cast<size_t>(buttonIndex)]};
  gtk_dialog_response(GTK_DIALOG(alert->dialog), buttonIndex);  // `alert` is gone after this
  return pressed;
}

void GtkAlertPresenter::addControlCommands(control::ControlCommandRegistry& commands) {
  using control::ControlAnswer;
  using control::ControlArguments;
  commands.add({.name = "alert list",
                .usage = "",
                .help = "the open alerts, oldest first: id, title, message and buttons",
                .thread = control::ControlThread::Main,
                .handler = [this](ControlArguments& args) {
                  args.end();
                  json::Array list;
                  for (const auto& open : openAlerts()) {
                    json::Array buttons(open.request.buttons.begin(), open.request.buttons.end());
                    json::Object entry;
                    entry.append("id", open.id);
                    entry.append("title", open.request.title);
                    entry.append("message", open.request.message);
                    entry.append("buttons", json::Value(std::move(buttons)));
                    list.emplace_back(std::move(entry));
                  }
                  return ControlAnswer::value(json::Value(std::move(list)));
                }});
  commands.add({.name = "alert press",
                .usage = "INDEX [--alert ID]",
                .help = "presses button INDEX (0 for the first) of the newest open alert, or of alert ID",
                .thread = control::ControlThread::Main,
                .handler = [this](ControlArguments& args) {
                  auto id = args.option("--alert");
                  int64_t index = args.integer("INDEX", 0, 1 << 20);
                  args.end();
                  std::optional<int> alertId;
                  if (id) {
                    ControlArguments idWord({*id});
                    alertId = static_cast<int>(idWord.integer("ID", 1, 1 << 30));
                  }
                  auto pressed = press(alertId, static_cast<int>(index));
                  if (auto* error = std::get_if<std::string>(&pressed)) return ControlAnswer::error(*error);
                  auto& button = std::get<PressedButton>(pressed);
                  return ControlAnswer::value("pressed \"" + button.title + "\" on alert " +
                                              std::to_string(button.alertId));
                }});
}

}  // namespace tavero::platform
