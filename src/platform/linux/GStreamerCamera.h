// The machine's own camera through GStreamer: PipeWire's camera source when
// the desktop offers its cameras through PipeWire, V4L2 otherwise (the first
// camera GStreamer's device monitor finds), or the device the profile names
// ("camera.device": a device file below /dev, or pipewiresrc, v4l2src or
// videotestsrc, GStreamer's test pattern, standing in for a camera in tests).
//
// Each open() starts the camera for one dialog (GStreamerCameraView); the
// camera runs only while a dialog shows it.
//
// Thread rules: main thread only. Construct it before any view is opened:
// it initialises GStreamer.
#pragma once

#include <optional>
#include <string>

#include "platform/Camera.h"
#include "platform/CameraDevice.h"

namespace tavero::platform {

class GStreamerCamera : public Camera {
 public:
  explicit GStreamerCamera(std::optional<CameraDevice> device);
  // Lets pipelines that are still stopping finish (for a moment at most).
  ~GStreamerCamera() override;

  std::unique_ptr<CameraView> open(Watchers watchers) const override;
  // "system (GStreamer, v4l2src /dev/video0)".
  std::string description() const override;

 private:
  std::optional<CameraDevice> device_;
  std::optional<std::string> initError_;  // GStreamer could not be initialised
};

}  // namespace tavero::platform
