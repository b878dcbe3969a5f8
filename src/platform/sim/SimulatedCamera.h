// The simulated device's camera: what it "shoots" is the picture the device
// profile names, or else a generated test card showing the time it was
// taken (so two shots are told apart). Its view shows that picture as a
// still, and shoots a fresh one when the picture is taken.
//
// Thread rules: takePicture() from any thread; open() as Camera.
#pragma once

#include <filesystem>
#include <optional>

#include "platform/Camera.h"
#include "platform/ImageProcessor.h"

namespace tavero::platform {

class SimulatedCamera : public Camera {
 public:
  static constexpr PixelSize kTestCardSize{640, 480};

  explicit SimulatedCamera(std::optional<std::filesystem::path> picture = std::nullopt)
      : picture_(std::move(picture)) {}

  // The profile's picture file, or a PNG test card with the current time.
  ImageData takePicture() const;

  std::unique_ptr<CameraView> open(Watchers watchers) const override;
  std::string description() const override;

  const std::optional<std::filesystem::path>& picture() const { return picture_; }

 private:
  std::optional<std::filesystem::path> picture_;
};

// A PNG test card: colour bars and `caption` (cairo's own font, ASCII).
std::vector<uint8_t> testCardPNG(PixelSize size, const std::string& caption);

}  // namespace tavero::platform
