// The image picker on GTK: a file chooser limited to the picture formats
// GdkPixbuf reads for the photo library and the saved photos (both start in
// the user's Pictures folder, or the home folder when there is none), and for
// the camera a dialog that shows what the camera sees (the simulated
// camera's still picture, or the live frames of the system camera), with
// "Take Picture" (once there is something to take) and "Cancel". The camera
// runs while the dialog is open; a camera that fails closes the dialog and
// the picker's outcome is the failure. On a phone the picker is as large as
// the app's window; on a tablet it is a smaller dialog over it.
//
// Thread rules: main thread only. REQUIRES: GTK initialised.
#pragma once

#include <optional>

#include "platform/Camera.h"
#include "platform/ImagePicker.h"

typedef struct _GtkWidget GtkWidget;

namespace tavero::platform {

struct PickerDialogSize {
  int width = 0;
  int height = 0;
  bool operator==(const PickerDialogSize&) const = default;
};

// The picker's size over an app window of `windowWidth` x `windowHeight`.
PickerDialogSize pickerDialogSize(const PickerPresentation& presentation, int windowWidth, int windowHeight);

// Where the photo library starts: the user's Pictures folder, else home.
std::filesystem::path pickerStartFolder();

class GtkImagePicker : public ImagePicker {
 public:
  explicit GtkImagePicker(std::shared_ptr<const Camera> camera) : camera_(std::move(camera)) {}
  ~GtkImagePicker() override;

  void present(ImageSource source, const PickerPresentation& presentation, Done done) override;
  std::optional<ImageSource> openPicker() const override;
  std::optional<std::string> pick(const std::optional<std::filesystem::path>& file) override;
  std::optional<std::string> cancel() override;

 private:
  GtkWidget* makeFileChooser(ImageSource source);
  GtkWidget* makeCameraDialog();
  void showStill(const ImageData& still);
  void showFrame(const CameraFrame& frame);
  // Hands the picture in view to the open camera picker; a message when
  // there is none yet.
  std::optional<std::string> shootCamera();
  // Closes the open picker and hands `outcome` to its handler.
  void finish(PickerOutcome outcome);
  static void onResponse(GtkWidget* dialog, int response, void* self);

  std::shared_ptr<const Camera> camera_;
  GtkWidget* dialog_ = nullptr;  // the open picker, or null
  std::unique_ptr<CameraView> cameraView_;  // while the camera picker is open
  GtkWidget* preview_ = nullptr;            // the camera picker's image
  GtkWidget* previewStatus_ = nullptr;      // "Starting the camera..." until there is a picture
  ImageSource source_ = ImageSource::photoLibrary;
  Done done_;
};

}  // namespace tavero::platform
