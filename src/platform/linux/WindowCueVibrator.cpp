#include "platform/linux/WindowCueVibrator.h"

#include <gtk/gtk.h>

namespace tavero::platform {

WindowCueVibrator::WindowCueVibrator(base::MainThread& mainThread, Vibrator& record, GtkWindow* window)
    : mainThread_(mainThread), record_(record), window_(window) {}

WindowCueVibrator::~WindowCueVibrator() {
  if (hideTimer_) g_source_remove(hideTimer_);
  if (cue_) gtk_widget_destroy(cue_);
}

void WindowCueVibrator::vibrate() {
  record_.vibrate();
  mainThread_.post(alive_.guard([this] { showCue(); }));
}

void WindowCueVibrator::showCue() {
  if (!cue_) {
    // A popup over the top of the window: it needs no window manager and
    // leaves the page's layout alone.
    cue_ = gtk_window_new(GTK_WINDOW_POPUP);
    gtk_window_set_transient_for(GTK_WINDOW(cue_), window_);
    GtkWidget* label = gtk_label_new("\xE3\x80\xB0 vibrating \xE3\x80\xB0");
    gtk_widget_set_margin_start(label, 16);
    gtk_widget_set_margin_end(label, 16);
    gtk_widget_set_margin_top(label, 8);
    gtk_widget_set_margin_bottom(label, 8);
    gtk_container_add(GTK_CONTAINER(cue_), label);
  }
  int x = 0, y = 0, width = 0;
  if (window_ && gtk_widget_get_realized(GTK_WIDGET(window_))) {
    gtk_window_get_position(window_, &x, &y);
    gtk_window_get_size(window_, &width, nullptr);
  }
  gtk_widget_show_all(cue_);
  int cueWidth = 0;
  gtk_window_get_size(GTK_WINDOW(cue_), &cueWidth, nullptr);
  gtk_window_move(GTK_WINDOW(cue_), x + (width - cueWidth) / 2, y + 12);
  // Another vibration while the cue shows keeps it up a little longer.
  if (hideTimer_) g_source_remove(hideTimer_);
  hideTimer_ = g_timeout_add(static_cast<guint>(kCueDuration.count()),
                             +[](gpointer self) -> gboolean {
                               static_cast<WindowCueVibrator*>(self)->hideCue();
                               return G_SOURCE_REMOVE;
                             },
                             this);
}

void WindowCueVibrator::hideCue() {
  hideTimer_ = 0;
  if (cue_) gtk_widget_hide(cue_);
}

}  // namespace tavero::platform
