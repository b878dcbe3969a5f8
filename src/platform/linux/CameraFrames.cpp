#include "platform/linux/CameraFrames.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstring>

namespace tavero::platform {

std::optional<CameraFrame> packedFrame(int width, int height, int stride, std::span<const uint8_t> data) {
  if (width <= 0 || height <= 0 || stride < static_cast<int64_t>(width) * 3) return std::nullopt;
  const size_t row = static_cast<size_t>(width) * 3;
  // The last row need not be padded to the stride.
  const size_t needed = static_cast<size_t>(stride) * static_cast<size_t>(height - 1) + row;
  if (data.size() < needed) return std::nullopt;
  CameraFrame frame{{width, height}, std::vector<uint8_t>(row * static_cast<size_t>(height))};
  for (int y = 0; y < height; ++y)
    std::memcpy(frame.rgb.data() + row * static_cast<size_t>(y), data.data() + static_cast<size_t>(stride) * y, row);
  return frame;
}

std::vector<uint8_t> framePNG(const CameraFrame& frame) {
  const size_t row = static_cast<size_t>(frame.size.width) * 3;
  if (frame.size.width <= 0 || frame.size.height <= 0 ||
      frame.rgb.size() != row * static_cast<size_t>(frame.size.height))
    return {};
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_data(frame.rgb.data(), GDK_COLORSPACE_RGB, FALSE, 8, frame.size.width,
                                               frame.size.height, static_cast<int>(row), nullptr, nullptr);
  gchar* buffer = nullptr;
  gsize length = 0;
  gboolean saved = gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &length, "png", nullptr, "compression", "1", nullptr);
  g_object_unref(pixbuf);
  if (!saved) return {};
  std::vector<uint8_t> png(reinterpret_cast<uint8_t*>(buffer), reinterpret_cast<uint8_t*>(buffer) + length);
  g_free(buffer);
  return png;
}

}  // namespace tavero::platform
