#include "platform/linux/GStreamerCamera.h"

#include <gst/gst.h>

#include "log/Log.h"
#include "platform/linux/GStreamerCameraView.h"

namespace tavero::platform {
GStreamerCamera::GStreamerCamera(std::optional<CameraDevice> device) : device_(std::move(device)) {
  GError* error = nullptr;
  if (!gst_init_check(nullptr, nullptr, &error)) {
    initError_ = error ? error->message : "unknown error";
    g_clear_error(&error);
    log::error("camera: GStreamer could not be initialised: " + *initError_);
  }
}

GStreamerCamera::~GStreamerCamera() {
  if (!GStreamerCameraView::waitForBackgroundWork(std::chrono::seconds(2)))
    log::warning("camera: a camera pipeline was still stopping when the app ended");
}

std::unique_ptr<CameraView> GStreamerCamera::open(Watchers watchers) const {
  return std::make_unique<GStreamerCameraView>(device_, std::move(watchers), !initError_);
}

std::string GStreamerCamera::description() const {
  if (!device_) return "system (GStreamer, the first camera found: PipeWire's, else V4L2's)";
  if (device_->kind == CameraDevice::Kind::deviceFile) return "system (GStreamer, v4l2src " + device_->name + ")";
  return "system (GStreamer, " + device_->name + ")";
}

}  // namespace tavero::platform
