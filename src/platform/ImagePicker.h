// The image picker: the screen on which the user takes a photo with the
// camera or chooses one from the photo library or the saved photos.
//
// present() shows it; the outcome comes once, to the `done` handler given.
// pick() and cancel() answer the open picker as the user would (the control
// interface and tests answer pickers this way, with no one at the screen).
//
// Thread rules: main thread only, for every call and for `done`.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "platform/ImageProcessor.h"

namespace tavero::platform {

enum class ImageSource { photoLibrary, camera, savedPhotosAlbum };

std::string_view imageSourceName(ImageSource source);  // "library", "camera", "saved photos"

// How the picker is shown: filling the screen (phones), or in a popover of
// `popoverSize` anchored at `anchor` (tablets).
struct PickerPresentation {
  struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
  };
  bool popover = false;
  Rect anchor;
  PixelSize popoverSize;
};

struct PickerCancelled {};
// The camera could not be used: `message` is for the page.
struct PickerFailed {
  std::string message;
};
// The chosen or taken picture, still encoded as it was stored or shot.
using PickerOutcome = std::variant<ImageData, PickerCancelled, PickerFailed>;

class ImagePicker {
 public:
  using Done = std::function<void(PickerOutcome)>;

  virtual ~ImagePicker() = default;

  // Shows the picker for `source`. A picker that is still open is answered
  // as cancelled first: one picker is on screen at a time.
  virtual void present(ImageSource source, const PickerPresentation& presentation, Done done) = 0;

  // The source of the picker on screen, if one is.
  virtual std::optional<ImageSource> openPicker() const = 0;

  // Answers the open picker with `file` (for the camera, no file takes the
  // camera's own picture). A message when no picker is open or the answer
  // does not fit it (a library picker needs a file that exists).
  virtual std::optional<std::string> pick(const std::optional<std::filesystem::path>& file) = 0;

  // Answers the open picker as cancelled; a message when none is open.
  virtual std::optional<std::string> cancel() = 0;
};

}  // namespace tavero::platform
