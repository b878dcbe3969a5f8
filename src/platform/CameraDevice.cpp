#include "platform/CameraDevice.h"

#include <algorithm>
#include <array>
#include <filesystem>

namespace tavero::platform {
namespace {

constexpr std::array<std::string_view, 3> kSourceElements = {"pipewiresrc", "v4l2src", "videotestsrc"};
constexpr size_t kLongestPath = 4096;

// An absolute path of a file below /dev that stays there: no "." or ".."
// steps.
bool isDeviceFilePath(std::string_view text) {
  if (!text.starts_with("/dev/") || text.size() > kLongestPath) return false;
  if (text.ends_with('/') || text.find('\0') != std::string_view::npos) return false;
  std::filesystem::path path(text);
  return std::none_of(path.begin(), path.end(),
                      [](const std::filesystem::path& step) { return step == "." || step == ".."; });
}

}  // namespace

std::span<const std::string_view> cameraSourceElements() { return kSourceElements; }

std::variant<CameraDevice, std::string> parseCameraDevice(std::string_view text) {
  if (std::find(kSourceElements.begin(), kSourceElements.end(), text) != kSourceElements.end())
    return CameraDevice{CameraDevice::Kind::element, std::string(text)};
  if (isDeviceFilePath(text)) return CameraDevice{CameraDevice::Kind::deviceFile, std::string(text)};
  return std::string("a device file below /dev (\"/dev/video0\") or one of pipewiresrc, v4l2src, videotestsrc");
}

}  // namespace tavero::platform
