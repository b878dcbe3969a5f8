#include "platform/ImagePicker.h"

namespace tavero::platform {

std::string_view imageSourceName(ImageSource source) {
  switch (source) {
    case ImageSource::camera: return "camera";
    case ImageSource::savedPhotosAlbum: return "saved photos";
    case ImageSource::photoLibrary: break;
  }
  return "library";
}

}  // namespace tavero::platform
