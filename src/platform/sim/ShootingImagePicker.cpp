#include "platform/sim/ShootingImagePicker.h"

#include "log/Log.h"

namespace tavero::platform {

void ShootingImagePicker::present(ImageSource source, const PickerPresentation&, Done done) {
  if (source == ImageSource::camera) {
    log::info("picker: no screen; the camera takes its picture at once");
    auto view = camera_->open({});
    auto picture = view->takePicture();
    if (auto* message = std::get_if<std::string>(&picture)) {
      done(PickerFailed{*message});
      return;
    }
    done(std::get<ImageData>(std::move(picture)));
    return;
  }
  log::info(std::string("picker: no screen to choose from the ") + std::string(imageSourceName(source)) +
            " on; answered as cancelled");
  done(PickerCancelled{});
}

std::optional<std::string> ShootingImagePicker::pick(const std::optional<std::filesystem::path>&) {
  return std::string("no picker is open: without a screen the camera shoots at once");
}

std::optional<std::string> ShootingImagePicker::cancel() {
  return std::string("no picker is open: without a screen the camera shoots at once");
}

}  // namespace tavero::platform
