// The size of a PNG image, read from its header, for the icon folder an
// app's package puts it in (/usr/share/icons/hicolor/<N>x<N>/apps).
#pragma once

#include <optional>
#include <string_view>

namespace tavero::app {

struct ImageSize {
  unsigned width = 0;
  unsigned height = 0;
};

// The width and height in the image's IHDR chunk; nullopt when `bytes` do
// not start like a PNG file.
std::optional<ImageSize> pngImageSize(std::string_view bytes);

}  // namespace tavero::app
