// Vibration on a desktop: recorded with its time (`tavero device events
// vibrations`), and shown as a short cue over the app's window, since a
// desktop cannot buzz.
//
// Thread rules: vibrate() from any thread; the cue is shown on the main
// thread. Destroy on the main thread.
#pragma once

#include <chrono>
#include <memory>

#include "base/AliveToken.h"
#include "base/MainThread.h"
#include "platform/Vibrator.h"

typedef struct _GtkWindow GtkWindow;
typedef struct _GtkWidget GtkWidget;

namespace tavero::platform {

class WindowCueVibrator : public Vibrator {
 public:
  static constexpr std::chrono::milliseconds kCueDuration{400};

  // `record` keeps the times; the cue appears over `window`. All three must
  // outlive this object.
  WindowCueVibrator(base::MainThread& mainThread, Vibrator& record, GtkWindow* window);
  ~WindowCueVibrator() override;

  void vibrate() override;

 private:
  void showCue();  // main thread
  void hideCue();

  base::MainThread& mainThread_;
  Vibrator& record_;
  GtkWindow* window_;
  base::AliveToken alive_;
  GtkWidget* cue_ = nullptr;  // the cue's popup while it shows; main thread only
  unsigned hideTimer_ = 0;    // main thread only
};

}  // namespace tavero::platform
