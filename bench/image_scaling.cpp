// Scaling a large photo as the camera does: decoded at a reduced size
// (GdkPixbufImageProcessor) against decoding it whole and then scaling
// (the naive way), on one 12000x9000 JPEG. Each run is a child process so
// that its peak memory is its own; medians of the runs, and ratios.
//
//   image_scaling [RUNS]
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "BenchLine.h"
#include "platform/linux/GdkPixbufImageProcessor.h"

namespace {

namespace fs = std::filesystem;
using tavero::platform::GdkPixbufImageProcessor;
using tavero::platform::ImageEncoding;
using tavero::platform::PixelSize;

struct Run {
  double seconds = 0;
  double peakMiB = 0;
};

// Runs `work` in a child; its wall time and peak resident memory.
Run measure(const std::function<bool()>& work) {
  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child == 0) _exit(work() ? 0 : 1);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "a run failed\n");
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), usage.ru_maxrss / 1024.0};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool makePhoto(const fs::path& file) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 12000, 9000);
  guint8* pixels = gdk_pixbuf_get_pixels(pixbuf);
  int stride = gdk_pixbuf_get_rowstride(pixbuf);
  for (int y = 0; y < 9000; ++y)
    for (int x = 0; x < 12000; ++x) {
      guint8* p = pixels + y * stride + x * 3;
      p[0] = static_cast<guint8>(x / 47);
      p[1] = static_cast<guint8>(y / 35);
      p[2] = static_cast<guint8>((x + y) / 83);
    }
  bool saved = gdk_pixbuf_save(pixbuf, file.c_str(), "jpeg", nullptr, "quality", "90", nullptr);
  g_object_unref(pixbuf);
  return saved;
}

bool decodeAtSize(const fs::path& file) {
  auto result = GdkPixbufImageProcessor().process(file, {PixelSize{320, 480}, ImageEncoding::jpeg, 80});
  return std::holds_alternative<tavero::platform::EncodedImage>(result);
}

bool decodeWhole(const fs::path& file) {
  GdkPixbuf* whole = gdk_pixbuf_new_from_file(file.c_str(), nullptr);
  if (!whole) return false;
  GdkPixbuf* upright = gdk_pixbuf_apply_embedded_orientation(whole);
  GdkPixbuf* scaled = gdk_pixbuf_scale_simple(upright, 320, 480, GDK_INTERP_BILINEAR);
  gchar* buffer = nullptr;
  gsize size = 0;
  bool ok = gdk_pixbuf_save_to_buffer(scaled, &buffer, &size, "jpeg", nullptr, "quality", "80", nullptr);
  g_free(buffer);
  g_object_unref(scaled);
  g_object_unref(upright);
  g_object_unref(whole);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  fs::path file = fs::temp_directory_path() / ("tavero-bench-" + std::to_string(getpid()) + ".jpg");
  if (measure([&] { return makePhoto(file); }).seconds <= 0) return 1;
  std::printf("12000x9000 JPEG (%.1f MiB) scaled to 320x480 and encoded as JPEG, %d runs each, alternating\n",
              fs::file_size(file) / 1048576.0, runs);
  std::vector<double> atSizeTime, atSizeMemory, wholeTime, wholeMemory;
  for (int i = 0; i < runs; ++i) {
    Run atSize = measure([&] { return decodeAtSize(file); });
    Run whole = measure([&] { return decodeWhole(file); });
    atSizeTime.push_back(atSize.seconds);
    atSizeMemory.push_back(atSize.peakMiB);
    wholeTime.push_back(whole.seconds);
    wholeMemory.push_back(whole.peakMiB);
  }
  fs::remove(file);
  std::printf("%-28s median %7.3f s   peak memory median %7.1f MiB\n", "decoded at size (Tavero)", median(atSizeTime),
              median(atSizeMemory));
  std::printf("%-28s median %7.3f s   peak memory median %7.1f MiB\n", "decoded whole (baseline)", median(wholeTime),
              median(wholeMemory));
  std::printf("ratio (Tavero / baseline): time %.3f, memory %.3f\n", median(atSizeTime) / median(wholeTime),
              median(atSizeMemory) / median(wholeMemory));
  tavero::bench::printBenchLine("image_scale_time", median(atSizeTime), "s", "decoded_whole", median(wholeTime));
  tavero::bench::printBenchLine("image_scale_memory", median(atSizeMemory), "MiB", "decoded_whole", median(wholeMemory));
  return 0;
}
