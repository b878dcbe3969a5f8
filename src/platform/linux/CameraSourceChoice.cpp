#include "platform/linux/CameraSourceChoice.h"

#include <algorithm>

namespace tavero::platform {

std::string CameraSource::describe(const std::vector<FoundCamera>& cameras) const {
  std::string text = element;
  if (devicePath) text += " " + *devicePath;
  if (found && *found < cameras.size() && !cameras[*found].displayName.empty())
    text += " (" + cameras[*found].displayName + ")";
  return text;
}

std::optional<CameraSource> chooseCameraSource(const std::optional<CameraDevice>& configured,
                                               const std::vector<FoundCamera>& found) {
  if (configured) {
    if (configured->kind == CameraDevice::Kind::deviceFile) return CameraSource{"v4l2src", configured->name, {}};
    return CameraSource{configured->name, {}, {}};
  }
  for (const char* preferred : {"pipewiresrc", "v4l2src"}) {
    auto camera =
        std::find_if(found.begin(), found.end(), [&](const FoundCamera& c) { return c.element == preferred; });
    if (camera == found.end()) continue;
    std::optional<std::string> path;
    if (!camera->devicePath.empty()) path = camera->devicePath;
    return CameraSource{camera->element, path, static_cast<size_t>(camera - found.begin())};
  }
  // Another provider's camera (a plugin of the distribution's): still a camera.
  if (!found.empty()) return CameraSource{found.front().element, {}, 0};
  return std::nullopt;
}

}  // namespace tavero::platform
