#include "app/PngImageSize.h"

namespace tavero::app {

namespace {

constexpr std::string_view kSignature = "\x89PNG\r\n\x1a\n";

unsigned bigEndian32(std::string_view bytes, size_t at) {
  unsigned value = 0;
  for (size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

}  // namespace

std::optional<ImageSize> pngImageSize(std::string_view bytes) {
  // Signature, then the first chunk: length 13, type IHDR, width, height.
  if (bytes.size() < 24 || !bytes.starts_with(kSignature) || bytes.substr(12, 4) != "IHDR") return std::nullopt;
  if (bigEndian32(bytes, 8) != 13) return std::nullopt;
  ImageSize size{bigEndian32(bytes, 16), bigEndian32(bytes, 20)};
  if (size.width == 0 || size.height == 0) return std::nullopt;
  return size;
}

}  // namespace tavero::app
