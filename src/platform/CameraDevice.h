// The camera a device profile names with "camera.device", for the system
// camera: a V4L2 device file ("/dev/video2", "/dev/v4l/by-id/...") or one of
// a few GStreamer source elements by name ("videotestsrc" stands in for a
// camera in tests). Never a pipeline description: a profile must not be able
// to make the shell write files or open network streams.
//
// Pure; any thread.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace tavero::platform {

struct CameraDevice {
  enum class Kind { deviceFile, element };
  Kind kind = Kind::element;
  std::string name;  // the path, or the element's name
  bool operator==(const CameraDevice&) const = default;
};

// The source elements a profile may name: pipewiresrc, v4l2src, videotestsrc.
std::span<const std::string_view> cameraSourceElements();

// `text` as a camera device, or a message saying what is accepted.
std::variant<CameraDevice, std::string> parseCameraDevice(std::string_view text);

}  // namespace tavero::platform
