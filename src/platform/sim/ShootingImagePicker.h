// The image picker of a shell without a screen (`tavero serve`): the camera
// shoots the simulated camera's picture at once, as if the user pressed
// "Take Picture"; a photo library or saved photos picker, where someone
// would have to choose, is answered as cancelled, with a log line.
//
// No picker stays open, so pick() and cancel() always say none is.
//
// Thread rules: main thread only (as ImagePicker); `done` runs inside
// present().
#pragma once

#include "platform/ImagePicker.h"
#include <memory>

#include "platform/Camera.h"

namespace tavero::platform {

class ShootingImagePicker : public ImagePicker {
 public:
  explicit ShootingImagePicker(std::shared_ptr<const Camera> camera) : camera_(std::move(camera)) {}

  void present(ImageSource source, const PickerPresentation& presentation, Done done) override;
  std::optional<ImageSource> openPicker() const override { return std::nullopt; }
  std::optional<std::string> pick(const std::optional<std::filesystem::path>& file) override;
  std::optional<std::string> cancel() override;

 private:
  std::shared_ptr<const Camera> camera_;
};

}  // namespace tavero::platform
