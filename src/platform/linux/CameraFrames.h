// Frames of the system camera: GStreamer's RGB video rows (padded to a
// stride) made into packed CameraFrames, and a frame encoded as the picture
// the image processor then scales and encodes for the page.
//
// Pure; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/Camera.h"

namespace tavero::platform {

// The width x height RGB picture whose rows start `stride` bytes apart in
// `data`; none when the sizes are not positive or `data` is too short.
std::optional<CameraFrame> packedFrame(int width, int height, int stride, std::span<const uint8_t> data);

// `frame` as PNG bytes (fast compression: the picture is decoded again at
// once); empty when GdkPixbuf cannot encode it.
std::vector<uint8_t> framePNG(const CameraFrame& frame);

}  // namespace tavero::platform
