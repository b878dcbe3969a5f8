#include "platform/linux/GdkPixbufImageProcessor.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <functional>
#include <memory>

namespace tavero::platform {
namespace {

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
using PixbufPtr = std::unique_ptr<GdkPixbuf, ObjectUnref>;
using LoaderPtr = std::unique_ptr<GdkPixbufLoader, ObjectUnref>;

std::string takeMessage(GError* error, std::string_view fallback) {
  std::string message = error && error->message ? error->message : std::string(fallback);
  g_clear_error(&error);
  return message;
}

// Given the picture's stored size, the size to decode it at (or nullopt to
// decode it whole).
using DecodeSize = std::function<std::optional<PixelSize>(PixelSize stored)>;

struct LoadState {
  DecodeSize decodeSize;
  PixelSize stored;
  bool tooLarge = false;
};

void onSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
  auto* state = static_cast<LoadState*>(data);
  state->stored = {width, height};
  if (static_cast<int64_t>(width) * height > ImageProcessor::kMaxSourcePixels) {
    state->tooLarge = true;
    gdk_pixbuf_loader_set_size(loader, 0, 0);  // loaders refuse a zero size and stop
    return;
  }
  if (auto size = state->decodeSize ? state->decodeSize({width, height}) : std::nullopt)
    gdk_pixbuf_loader_set_size(loader, size->width, size->height);
}

// Feeds `image` to `loader` in pieces; false (with `error` set) when the
// loader gives up. The loader is closed either way.
bool feed(GdkPixbufLoader* loader, const ImageData& image, GError** error) {
  bool ok = true;
  if (const auto* bytes = std::get_if<std::vector<uint8_t>>(&image)) {
    if (!bytes->empty()) ok = gdk_pixbuf_loader_write(loader, bytes->data(), bytes->size(), error);
  } else {
    const auto& path = std::get<std::filesystem::path>(image);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_NOENT, "cannot open %s", path.c_str());
      ok = false;
    }
    std::array<char, 64 * 1024> chunk;
    while (ok && in) {
      in.read(chunk.data(), chunk.size());
      auto count = in.gcount();
      if (count > 0) ok = gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(chunk.data()),
                                                  static_cast<gsize>(count), error);
    }
    if (ok && in.bad()) {
      g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_IO, "cannot read %s", path.c_str());
      ok = false;
    }
  }
  // Closing reports a truncated or empty picture; its error only counts when
  // feeding went well.
  GError* closeError = nullptr;
  bool closed = gdk_pixbuf_loader_close(loader, ok ? &closeError : nullptr);
  if (ok && !closed) {
    *error = closeError;
    ok = false;
  }
  return ok;
}

// The decoded picture turned upright, or a message.
std::variant<PixbufPtr, std::string> decodeUpright(const ImageData& image, DecodeSize decodeSize) {
  LoaderPtr loader(gdk_pixbuf_loader_new());
  LoadState state{std::move(decodeSize), {}, false};
  g_signal_connect(loader.get(), "size-prepared", G_CALLBACK(onSizePrepared), &state);
  GError* error = nullptr;
  bool ok = feed(loader.get(), image, &error);
  if (state.tooLarge) {
    g_clear_error(&error);
    return "the picture is too large (" + std::to_string(state.stored.width) + "x" +
           std::to_string(state.stored.height) + " pixels)";
  }
  GdkPixbuf* decoded = ok ? gdk_pixbuf_loader_get_pixbuf(loader.get()) : nullptr;
  if (!decoded) return "not a readable picture (" + takeMessage(error, "no image data") + ")";
  g_clear_error(&error);
  // A new reference, rotated or flipped as the EXIF orientation says (the
  // same picture when it has none).
  PixbufPtr upright(gdk_pixbuf_apply_embedded_orientation(decoded));
  if (!upright) return std::string("not enough memory to turn the picture upright");
  return upright;
}

std::variant<EncodedImage, std::string> encode(GdkPixbuf* pixbuf, ImageEncoding encoding, int quality) {
  gchar* buffer = nullptr;
  gsize size = 0;
  GError* error = nullptr;
  gboolean saved;
  if (encoding == ImageEncoding::png) {
    saved = gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "png", &error, nullptr);
  } else {
    std::string qualityText = std::to_string(std::clamp(quality, 0, 100));
    saved = gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "jpeg", &error, "quality", qualityText.c_str(), nullptr);
  }
  if (!saved) return "the picture could not be encoded (" + takeMessage(error, "unknown reason") + ")";
  EncodedImage encoded;
  encoded.bytes.assign(reinterpret_cast<uint8_t*>(buffer), reinterpret_cast<uint8_t*>(buffer) + size);
  encoded.size = {gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf)};
  g_free(buffer);
  return encoded;
}

// `pixbuf` at exactly `size` (the same reference when it already is).
std::variant<PixbufPtr, std::string> scaled(PixbufPtr pixbuf, PixelSize size) {
  if (gdk_pixbuf_get_width(pixbuf.get()) == size.width && gdk_pixbuf_get_height(pixbuf.get()) == size.height)
    return pixbuf;
  PixbufPtr result(gdk_pixbuf_scale_simple(pixbuf.get(), size.width, size.height, GDK_INTERP_BILINEAR));
  if (!result) return std::string("not enough memory to scale the picture");
  return result;
}

int roundUp(double value) { return std::max(1, static_cast<int>(std::ceil(value - 1e-9))); }

// A decode size from which `target` can be scaled down in either
// orientation (the EXIF orientation is only known once decoding is done).
std::optional<PixelSize> decodeSizeFor(PixelSize stored, PixelSize target) {
  double factor = std::max({static_cast<double>(target.width) / stored.width,
                            static_cast<double>(target.height) / stored.height,
                            static_cast<double>(target.width) / stored.height,
                            static_cast<double>(target.height) / stored.width});
  if (factor >= 1.0) return std::nullopt;
  return PixelSize{roundUp(stored.width * factor), roundUp(stored.height * factor)};
}

std::optional<PixelSize> fitWithin(PixelSize size, int maxSide) {
  int longest = std::max(size.width, size.height);
  if (longest <= maxSide) return std::nullopt;
  double factor = static_cast<double>(maxSide) / longest;
  return PixelSize{roundUp(size.width * factor), roundUp(size.height * factor)};
}

}  // namespace

std::variant<EncodedImage, std::string> GdkPixbufImageProcessor::process(const ImageData& image,
                                                                        const ImageJob& job) const {
  if (job.scaleTo && (job.scaleTo->width <= 0 || job.scaleTo->height <= 0))
    return "cannot scale a picture to " + std::to_string(job.scaleTo->width) + "x" +
           std::to_string(job.scaleTo->height);
  if (job.scaleTo && static_cast<int64_t>(job.scaleTo->width) * job.scaleTo->height > kMaxSourcePixels)
    return "cannot scale a picture to " + std::to_string(job.scaleTo->width) + "x" +
           std::to_string(job.scaleTo->height) + ": too many pixels";
  DecodeSize decodeSize;
  if (job.scaleTo) decodeSize = [target = *job.scaleTo](PixelSize stored) { return decodeSizeFor(stored, target); };
  auto decoded = decodeUpright(image, decodeSize);
  if (auto* error = std::get_if<std::string>(&decoded)) return *error;
  PixbufPtr pixbuf = std::move(std::get<PixbufPtr>(decoded));
  if (job.scaleTo) {
    auto result = scaled(std::move(pixbuf), *job.scaleTo);
    if (auto* error = std::get_if<std::string>(&result)) return *error;
    pixbuf = std::move(std::get<PixbufPtr>(result));
  }
  return encode(pixbuf.get(), job.encoding, job.quality);
}

std::variant<EncodedImage, std::string> GdkPixbufImageProcessor::thumbnail(const ImageData& image, int maxSide) const {
  if (maxSide <= 0) return std::string("a thumbnail needs a size");
  auto decoded = decodeUpright(image, [maxSide](PixelSize stored) { return fitWithin(stored, maxSide); });
  if (auto* error = std::get_if<std::string>(&decoded)) return *error;
  PixbufPtr pixbuf = std::move(std::get<PixbufPtr>(decoded));
  // Loaders may decode a little larger than asked.
  if (auto fit = fitWithin({gdk_pixbuf_get_width(pixbuf.get()), gdk_pixbuf_get_height(pixbuf.get())}, maxSide)) {
    auto result = scaled(std::move(pixbuf), *fit);
    if (auto* error = std::get_if<std::string>(&result)) return *error;
    pixbuf = std::move(std::get<PixbufPtr>(result));
  }
  return encode(pixbuf.get(), ImageEncoding::png, 100);
}

}  // namespace tavero::platform
