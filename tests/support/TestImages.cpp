#include "support/TestImages.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <fstream>
#include <iterator>

namespace tavero::test {
namespace {

uint32_t crc32(const uint8_t* data, size_t size) {
  uint32_t crc = 0xffffffffu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void appendBigEndian(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void appendChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  appendBigEndian(out, static_cast<uint32_t>(data.size()));
  std::vector<uint8_t> typed(type, type + 4);
  typed.insert(typed.end(), data.begin(), data.end());
  out.insert(out.end(), typed.begin(), typed.end());
  appendBigEndian(out, crc32(typed.data(), typed.size()));
}

Rgb pixelAt(GdkPixbuf* pixbuf, int x, int y) {
  const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf);
  const guint8* p = pixels + y * gdk_pixbuf_get_rowstride(pixbuf) + x * gdk_pixbuf_get_n_channels(pixbuf);
  return {p[0], p[1], p[2]};
}

}  // namespace

std::vector<uint8_t> twoColourImage(int width, int height, const std::string& format) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
  guint8* pixels = gdk_pixbuf_get_pixels(pixbuf);
  int stride = gdk_pixbuf_get_rowstride(pixbuf);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      guint8* p = pixels + y * stride + x * 3;
      bool left = x < width / 2;
      p[0] = left ? 255 : 0;
      p[1] = 0;
      p[2] = left ? 0 : 255;
    }
  }
  gchar* buffer = nullptr;
  gsize size = 0;
  if (format == "jpeg")
    gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "jpeg", nullptr, "quality", "90", nullptr);
  else
    gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, format.c_str(), nullptr, nullptr);
  std::vector<uint8_t> bytes(reinterpret_cast<uint8_t*>(buffer), reinterpret_cast<uint8_t*>(buffer) + size);
  g_free(buffer);
  g_object_unref(pixbuf);
  return bytes;
}

std::vector<uint8_t> withExifOrientation(const std::vector<uint8_t>& jpeg, int orientation) {
  // APP1: "Exif\0\0", a big-endian TIFF header, one IFD with one SHORT
  // entry: Orientation (0x0112).
  std::vector<uint8_t> segment{0xff, 0xe1, 0x00, 0x22, 'E', 'x', 'i', 'f', 0, 0,
                               'M', 'M', 0x00, 0x2a, 0x00, 0x00, 0x00, 0x08,
                               0x00, 0x01,
                               0x01, 0x12, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01,
                               0x00, static_cast<uint8_t>(orientation), 0x00, 0x00,
                               0x00, 0x00, 0x00, 0x00};
  // Sized once and filled by copies: growing a two-byte vector by insert
  // trips GCC 12's -Warray-bounds at -O3 (a false alarm).
  std::vector<uint8_t> out(jpeg.size() + segment.size());
  auto at = std::copy_n(jpeg.begin(), 2, out.begin());  // SOI
  at = std::copy(segment.begin(), segment.end(), at);
  std::copy(jpeg.begin() + 2, jpeg.end(), at);
  return out;
}

std::vector<uint8_t> pngHeaderClaiming(uint32_t width, uint32_t height) {
  std::vector<uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  std::vector<uint8_t> header;
  appendBigEndian(header, width);
  appendBigEndian(header, height);
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
  appendChunk(out, "IHDR", header);
  // Decoders learn the size when the pixel data starts: a few bytes of it.
  appendChunk(out, "IDAT", {0x78, 0x9c, 0x63, 0x60, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01});
  appendChunk(out, "IEND", {});
  return out;
}

std::optional<Decoded> decode(const std::vector<uint8_t>& bytes) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  bool ok = gdk_pixbuf_loader_write(loader, bytes.data(), bytes.size(), nullptr);
  ok = gdk_pixbuf_loader_close(loader, nullptr) && ok;
  GdkPixbuf* pixbuf = ok ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  std::optional<Decoded> result;
  if (pixbuf) {
    Decoded decoded;
    decoded.width = gdk_pixbuf_get_width(pixbuf);
    decoded.height = gdk_pixbuf_get_height(pixbuf);
    GdkPixbufFormat* format = gdk_pixbuf_loader_get_format(loader);
    gchar* name = format ? gdk_pixbuf_format_get_name(format) : nullptr;
    decoded.format = name ? name : "";
    g_free(name);
    decoded.left = pixelAt(pixbuf, decoded.width / 8, decoded.height / 2);
    decoded.right = pixelAt(pixbuf, decoded.width - 1 - decoded.width / 8, decoded.height / 2);
    decoded.top = pixelAt(pixbuf, decoded.width / 2, decoded.height / 8);
    decoded.bottom = pixelAt(pixbuf, decoded.width / 2, decoded.height - 1 - decoded.height / 8);
    result = decoded;
  }
  g_object_unref(loader);
  return result;
}

bool roughlyRed(Rgb p) { return p.r > 180 && p.g < 80 && p.b < 80; }
bool roughlyBlue(Rgb p) { return p.b > 180 && p.r < 80 && p.g < 80; }

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace tavero::test
