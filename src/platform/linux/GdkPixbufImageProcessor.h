// The image processor on GdkPixbuf: decoding with its loaders (at a reduced
// size when the picture is scaled down), EXIF orientation, bilinear
// scaling, and its JPEG and PNG savers.
#pragma once

#include "platform/ImageProcessor.h"

namespace tavero::platform {

class GdkPixbufImageProcessor : public ImageProcessor {
 public:
  std::variant<EncodedImage, std::string> process(const ImageData& image, const ImageJob& job) const override;
  std::variant<EncodedImage, std::string> thumbnail(const ImageData& image, int maxSide) const override;
};

}  // namespace tavero::platform
