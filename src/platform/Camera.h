// A camera: what the image picker's camera dialog previews and shoots.
//
// open() starts the camera for one dialog and returns its view; the view
// stops the camera when it is destroyed. A still camera (the simulated one)
// has a picture to show at once (CameraView::still()); a live camera hands
// frames to `Watchers::frame` as they come, and a camera that cannot start
// or stops working says so once through `Watchers::failed`.
//
// Thread rules: main thread only, for every call and every watcher; open()
// never waits for the device, and the watchers never run inside open().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/ImageProcessor.h"

namespace tavero::platform {

// One frame of a live camera: packed RGB, 3 bytes a pixel, rows of
// width * 3 bytes without padding.
struct CameraFrame {
  PixelSize size;
  std::vector<uint8_t> rgb;
};

// The camera while a dialog shows it.
class CameraView {
 public:
  virtual ~CameraView() = default;

  // The picture a still camera shows; none for a live camera.
  virtual std::optional<ImageData> still() const = 0;

  // The picture in view now, encoded; or why there is none (a live camera
  // that has shown no frame yet, or has failed).
  virtual std::variant<ImageData, std::string> takePicture() = 0;
};

class Camera {
 public:
  struct Watchers {
    std::function<void(const CameraFrame&)> frame;    // each new frame of a live camera
    std::function<void(const std::string&)> failed;   // once: the camera cannot be used (page-ready text)
  };

  virtual ~Camera() = default;

  virtual std::unique_ptr<CameraView> open(Watchers watchers) const = 0;

  // Which camera this is, for the log: "simulated (a test card)".
  virtual std::string description() const = 0;
};

}  // namespace tavero::platform
