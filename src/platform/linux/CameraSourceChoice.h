// Which GStreamer source the system camera starts: the device the profile
// names, else the first camera GStreamer's device monitor found, PipeWire's
// (the desktop's camera service, which shares the camera between programs)
// before V4L2's.
//
// Pure; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/CameraDevice.h"

namespace tavero::platform {

// A camera the device monitor found.
struct FoundCamera {
  std::string displayName;  // "Integrated Camera: Integrated C"
  std::string element;      // the source element it makes: "pipewiresrc", "v4l2src"...
  std::string devicePath;   // "/dev/video0" when the device says so
};

struct CameraSource {
  std::string element;                    // "v4l2src", "pipewiresrc", "videotestsrc"
  std::optional<std::string> devicePath;  // v4l2src's "device" (a found camera's element has it already)
  std::optional<size_t> found;            // the found camera to make the element from
  bool operator==(const CameraSource&) const = default;

  // For the log: "v4l2src /dev/video0", "pipewiresrc (Integrated Camera)".
  std::string describe(const std::vector<FoundCamera>& cameras) const;
};

// None when no device is configured and none was found.
std::optional<CameraSource> chooseCameraSource(const std::optional<CameraDevice>& configured,
                                               const std::vector<FoundCamera>& found);

}  // namespace tavero::platform
