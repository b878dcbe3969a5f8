// Pictures made for tests: encoded with GdkPixbuf, with an EXIF orientation
// spliced in, or a PNG header that claims any size; and ways to look at a
// decoded result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavero::test {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
};

// A width x height picture, red on its left half and blue on its right,
// as "jpeg" or "png" bytes.
std::vector<uint8_t> twoColourImage(int width, int height, const std::string& format);

// `jpeg` with an EXIF segment holding `orientation` (1-8) after its start.
std::vector<uint8_t> withExifOrientation(const std::vector<uint8_t>& jpeg, int orientation);

// The signature, header and a few pixel bytes of a PNG of width x height:
// enough for a decoder to learn the size, far too little to fill it.
std::vector<uint8_t> pngHeaderClaiming(uint32_t width, uint32_t height);

struct Decoded {
  int width = 0;
  int height = 0;
  std::string format;  // "jpeg", "png"...
  Rgb left;             // the pixel in the middle of the left edge area
  Rgb right;            // ... of the right edge area
  Rgb top, bottom;
};
std::optional<Decoded> decode(const std::vector<uint8_t>& bytes);

bool roughlyRed(Rgb pixel);
bool roughlyBlue(Rgb pixel);

std::vector<uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace tavero::test
