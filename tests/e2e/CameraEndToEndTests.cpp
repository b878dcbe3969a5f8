// The system camera in the real web view: GStreamer's test pattern
// (videotestsrc) stands in for the device, the dialog's Take Picture button
// is pressed, `tavero device picker cancel` cancels as a developer would, and
// a camera that cannot start reaches the page as a failure, not a hang.
#include <gtk/gtk.h>

#include <chrono>
#include <iostream>

#include "e2e/EndToEndFixture.h"
#include "modules/TQCamera.h"
#include "platform/CameraDevice.h"
#include "platform/linux/GStreamerCameraView.h"
#include "support/TestImages.h"

namespace tavero::app::e2e {
namespace {

using CameraEndToEnd = EndToEndTest;
using Clock = std::chrono::steady_clock;

std::string pickerStatus(ShellApplication& shell) {
  auto answer = shell.controlCommands().run({"picker", "status"});
  return answer.ok() && answer.value().isString() ? answer.value().asString() : "";
}

// The camera dialog's Take Picture button, once the dialog shows.
GtkWidget* takePictureButton() {
  GtkWidget* found = nullptr;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* item = toplevels; item && !found; item = item->next) {
    if (!GTK_IS_DIALOG(item->data) || !gtk_widget_get_mapped(GTK_WIDGET(item->data))) continue;
    const char* title = gtk_window_get_title(GTK_WINDOW(item->data));
    if (!title || std::string(title) != "Camera") continue;
    found = gtk_dialog_get_widget_for_response(GTK_DIALOG(item->data), 1);
  }
  g_list_free(toplevels);
  return found;
}

bool near(test::Rgb pixel, test::Rgb wanted) {
  auto close = [](int a, int b) { return a - b < 40 && b - a < 40; };
  return close(pixel.r, wanted.r) && close(pixel.g, wanted.g) && close(pixel.b, wanted.b);
}

class SystemCamera : public CameraEndToEnd {
 protected:
  std::unique_ptr<ShellApplication> launchWith(const std::string& device) {
    auto shell = makeShell("camera-app", [&](ShellApplication::Settings& settings) {
      settings.media.systemCamera = true;
      settings.media.cameraDevice = std::get<platform::CameraDevice>(platform::parseCameraDevice(device));
    });
    EXPECT_TRUE(shell->launch());
    return shell;
  }

  // The pipelines the dialog started have all stopped.
  static bool cameraStopped() { return platform::GStreamerCameraView::waitForBackgroundWork(std::chrono::seconds(5)); }
};

TEST_F(SystemCamera, TakesTheTestPatternAtItsSizeAndColours) {
  auto shell = launchWith("videotestsrc");
  ASSERT_TRUE(serveUntil(*shell, [&] { return pickerStatus(*shell) == "camera"; }));
  // Take Picture is pressed once the camera shows its first frame; until
  // then the button cannot be pressed.
  GtkWidget* takePicture = nullptr;
  ASSERT_TRUE(serveUntil(*shell, [&] {
    takePicture = takePictureButton();
    return takePicture && gtk_widget_is_sensitive(takePicture);
  }));
  Clock::time_point pressed = Clock::now();
  gtk_button_clicked(GTK_BUTTON(takePicture));
  auto verdict = waitForVerdict(*shell);
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed);
  ASSERT_TRUE(verdict);
  const json::Value* file = verdict->find("file");
  ASSERT_TRUE(file && file->isString()) << text(*verdict);
  EXPECT_EQ(fs::path(file->asString()).parent_path(), home_ / "Documents");
  auto picture = test::decode(test::readFile(file->asString()));
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->format, "png");
  // videotestsrc's colour bars at its own size: white at the left, blue at
  // the right, green at the top middle, black below the bars.
  EXPECT_EQ(picture->width, 320);
  EXPECT_EQ(picture->height, 240);
  EXPECT_TRUE(near(picture->left, {255, 255, 255}));
  EXPECT_TRUE(near(picture->right, {0, 0, 255}));
  EXPECT_TRUE(near(picture->top, {0, 255, 0}));
  EXPECT_TRUE(near(picture->bottom, {0, 0, 0}));
  EXPECT_EQ(pickerStatus(*shell), "none");
  EXPECT_TRUE(cameraStopped());
  std::cout << "camera e2e: Take Picture to the page's callback: " << elapsed.count() << " ms\n";
  shell->terminate();
}

TEST_F(SystemCamera, ADeviceThatCannotStartFailsThePageAtOnce) {
  auto shell = launchWith("/dev/video-tavero-missing");
  auto verdict = waitForVerdict(*shell, std::chrono::seconds(20));
  ASSERT_TRUE(verdict);
  const json::Value* failure = verdict->find("failure");
  ASSERT_TRUE(failure && failure->isString()) << text(*verdict);
  EXPECT_EQ(failure->asString(), "the picture could not be taken: the camera could not be started");
  const json::Value* milliseconds = verdict->find("milliseconds");
  ASSERT_TRUE(milliseconds && milliseconds->isNumber());
  // Well before the first-frame limit: the start failure itself is told.
  EXPECT_LT(milliseconds->toDouble(), 5000) << text(*verdict);
  EXPECT_EQ(pickerStatus(*shell), "none");
  EXPECT_TRUE(cameraStopped());
  shell->terminate();
}

TEST_F(SystemCamera, CancelStopsTheCameraAndThePageHearsTheCancel) {
  auto shell = launchWith("videotestsrc");
  ASSERT_TRUE(serveUntil(*shell, [&] { return pickerStatus(*shell) == "camera"; }));
  CommandOutput cancelled = device(*shell, {"picker", "cancel"});
  EXPECT_EQ(cancelled.exitStatus, 0) << cancelled.err;
  auto verdict = waitForVerdict(*shell);
  ASSERT_TRUE(verdict);
  const json::Value* failure = verdict->find("failure");
  ASSERT_TRUE(failure && failure->isString()) << text(*verdict);
  EXPECT_EQ(failure->asString(), modules::TQCamera::kCancelText);
  EXPECT_TRUE(cameraStopped());
  shell->terminate();
}

}  // namespace
}  // namespace tavero::app::e2e
