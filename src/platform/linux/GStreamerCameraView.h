// The system camera while the camera dialog shows it: a GStreamer pipeline
//   SOURCE ! videoconvert ! videoscale ! RGB, at most 1920x1080 ! appsink
// whose newest frame goes to the dialog and is the picture taken.
//
// Finding the camera (GstDeviceMonitor) and starting the pipeline happen on
// a thread of their own, and so does stopping it: the main thread never
// waits for the device. The outcome comes back on the main thread: frames,
// or one failure (no camera, busy, refused, the pipeline failing to start
// or erroring later, or no frame within kFirstFrameLimit), with GStreamer's
// error in the log.
//
// Thread rules: main thread only (as CameraView); the watchers run there.
// REQUIRES: GStreamer initialised.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/Camera.h"
#include "platform/CameraDevice.h"

namespace tavero::platform {

class GStreamerCameraView : public CameraView {
 public:
  static constexpr std::chrono::seconds kFirstFrameLimit{10};

  // `gstreamerReady`: false when GStreamer could not be initialised; the
  // view then only fails.
  GStreamerCameraView(std::optional<CameraDevice> configured, Camera::Watchers watchers, bool gstreamerReady);
  ~GStreamerCameraView() override;  // stops the pipeline (without waiting for it)

  std::optional<ImageData> still() const override { return std::nullopt; }
  std::variant<ImageData, std::string> takePicture() override;

  // Waits up to `limit` for the pipelines still being started or stopped,
  // so that none outlives the process's GStreamer; false when some are left.
  static bool waitForBackgroundWork(std::chrono::milliseconds limit);

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace tavero::platform
