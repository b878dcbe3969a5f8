// Image decoding, orientation, scaling and encoding: what the camera does to
// a picked picture and what contacts do to a person's picture.
//
// Thread rules: any thread; one processor may serve several threads at once
// (it keeps no state between calls).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tavero::platform {

// An encoded image: a file, or its bytes in memory.
using ImageData = std::variant<std::filesystem::path, std::vector<uint8_t>>;

enum class ImageEncoding { jpeg, png };

struct PixelSize {
  int width = 0;
  int height = 0;
  friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

struct ImageJob {
  // The exact size of the result; the aspect ratio is not kept. Without it
  // the picture keeps its own (upright) size.
  std::optional<PixelSize> scaleTo;
  ImageEncoding encoding = ImageEncoding::jpeg;
  int quality = 0;  // JPEG quality in percent, clamped to 0...100
};

struct EncodedImage {
  std::vector<uint8_t> bytes;
  PixelSize size;  // of the encoded picture
};

class ImageProcessor {
 public:
  // Pictures larger than this (in pixels, before scaling) are refused: a
  // few bytes of a hostile file can claim a size no memory holds.
  static constexpr int64_t kMaxSourcePixels = 250'000'000;

  virtual ~ImageProcessor() = default;

  // Decodes `image`, turns it upright as its EXIF orientation says, scales
  // it to job.scaleTo when given and encodes it. A picture that is scaled
  // down is decoded at a reduced size where the format allows (JPEG), so
  // that a 12000x9000 photo never needs its full size in memory. Returns
  // the encoded picture, or a message saying why there is none.
  virtual std::variant<EncodedImage, std::string> process(const ImageData& image, const ImageJob& job) const = 0;

  // `image` made to fit within maxSide x maxSide (never enlarged, aspect
  // kept, upright), as PNG bytes; a message when it cannot be decoded.
  virtual std::variant<EncodedImage, std::string> thumbnail(const ImageData& image, int maxSide) const = 0;
};

}  // namespace tavero::platform
