// The camera module: `capture` shows the image picker (the camera, the
// saved photos or the photo library), turns the chosen picture upright,
// scales it when the page gave both a width and a height, encodes it as
// JPEG or PNG, and hands it to the calling page as a file in Documents
// ("image-<seconds>.jpg|png", the full path) or as base64 text.
//
// Options out of range (a source, destination or encoding the module does
// not know, a quality outside 0-100, a size beyond kMaxPictureSide) are
// refused through the failure callback, "Refused: ...", and no picker shows.
//
// Each capture keeps the arguments of its own request: a second capture
// while a picker is open cancels the first (its page hears the cancel) and
// never takes its callbacks.
//
// Thread rules: capture() from any thread; it waits while the main thread
// shows the picker. The picture is processed on the main thread, where the
// picker answers.
#pragma once

#include <filesystem>
#include <string_view>

#include "base/MainThread.h"
#include "bridge/CallbackDelivery.h"
#include "bridge/TQW3CAction.h"
#include "platform/ImagePicker.h"
#include "platform/ImageProcessor.h"

namespace tavero::modules {

class TQCamera : public bridge::TQW3CAction {
 public:
  static constexpr std::string_view className = "TQCamera";
  static constexpr std::string_view kCancelText = "User has canceled operation";
  // The largest width or height a page may ask a picture to be scaled to.
  static constexpr int32_t kMaxPictureSide = 10000;

  struct Services {
    base::MainThread& mainThread;
    platform::ImagePicker& picker;
    const platform::ImageProcessor& processor;
    std::filesystem::path documents;  // where pictures are written
    bool tablet = false;              // pickers in a popover, not full screen
  };

  TQCamera(bridge::CallbackDelivery& callbacks, Services services);

  void capture(bridge::Invocation& call);

  // Where the picture of a capture goes: the first free "image-<n>.<ext>"
  // with n from `seconds` on, so that two captures in the same second keep
  // both pictures. The file is created empty to hold the name.
  static std::optional<std::filesystem::path> reserveFile(const std::filesystem::path& folder, int32_t seconds,
                                                          std::string_view extension);

 private:
  struct Capture {
    platform::ImageSource source;
    int32_t quality, width, height, destination, encoding;
    int success, failure;
    std::string page;
  };

  void finish(const Capture& capture, platform::PickerOutcome outcome);
  // The success value of a picked picture, or the failure message.
  std::variant<std::optional<json::Value>, std::string> result(const Capture& capture, const platform::ImageData& image);

  bridge::CallbackDelivery& callbacks_;
  Services services_;
};

}  // namespace tavero::modules
