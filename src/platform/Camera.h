// A camera: what the image picker's camera dialog previews and shoots.
//
// Thread rules: takePicture() from any thread.
#pragma once

#include "platform/ImageProcessor.h"

namespace tavero::platform {

class Camera {
 public:
  virtual ~Camera() = default;

  // One picture, encoded as the camera gives it.
  virtual ImageData takePicture() const = 0;
};

}  // namespace tavero::platform
