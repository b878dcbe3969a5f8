#include "platform/sim/SimulatedCamera.h"

#include <cairo.h>

#include <array>
#include <chrono>
#include <ctime>
#include <string>

namespace tavero::platform {
namespace {

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
  auto* out = static_cast<std::vector<uint8_t>*>(closure);
  out->insert(out->end(), data, data + length);
  return CAIRO_STATUS_SUCCESS;
}

std::string localTimeText() {
  std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&now, &local);
  std::array<char, 64> text{};
  std::strftime(text.data(), text.size(), "%Y-%m-%d %H:%M:%S", &local);
  return text.data();
}

class SimulatedCameraView : public CameraView {
 public:
  explicit SimulatedCameraView(const SimulatedCamera& camera) : camera_(camera), still_(camera.takePicture()) {}

  std::optional<ImageData> still() const override { return still_; }
  std::variant<ImageData, std::string> takePicture() override { return camera_.takePicture(); }

 private:
  const SimulatedCamera& camera_;
  ImageData still_;
};

}  // namespace

std::vector<uint8_t> testCardPNG(PixelSize size, const std::string& caption) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, size.width, size.height);
  cairo_t* cr = cairo_create(surface);
  constexpr std::array<std::array<double, 3>, 7> bars{{{0.75, 0.75, 0.75}, {0.75, 0.75, 0}, {0, 0.75, 0.75},
                                                       {0, 0.75, 0}, {0.75, 0, 0.75}, {0.75, 0, 0}, {0, 0, 0.75}}};
  double barWidth = static_cast<double>(size.width) / bars.size();
  for (size_t i = 0; i < bars.size(); ++i) {
    cairo_set_source_rgb(cr, bars[i][0], bars[i][1], bars[i][2]);
    cairo_rectangle(cr, i * barWidth, 0, barWidth + 1, size.height);
    cairo_fill(cr);
  }
  double band = size.height / 5.0;
  cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
  cairo_rectangle(cr, 0, size.height - band, size.width, band);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_select_font_face(cr, "monospace", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, band * 0.4);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, caption.c_str(), &extents);
  if (extents.width > size.width * 0.9) {  // shrink the caption to fit
    cairo_set_font_size(cr, band * 0.4 * size.width * 0.9 / extents.width);
    cairo_text_extents(cr, caption.c_str(), &extents);
  }
  cairo_move_to(cr, (size.width - extents.width) / 2 - extents.x_bearing,
                size.height - band / 2 - extents.height / 2 - extents.y_bearing);
  cairo_show_text(cr, caption.c_str());
  cairo_destroy(cr);
  std::vector<uint8_t> png;
  cairo_surface_write_to_png_stream(surface, appendBytes, &png);
  cairo_surface_destroy(surface);
  return png;
}

std::unique_ptr<CameraView> SimulatedCamera::open(Watchers) const {
  return std::make_unique<SimulatedCameraView>(*this);
}

std::string SimulatedCamera::description() const {
  if (picture_) return "simulated (the picture " + picture_->string() + ")";
  return "simulated (a test card with the time)";
}

ImageData SimulatedCamera::takePicture() const {
  if (picture_) return *picture_;
  return testCardPNG(kTestCardSize, "Tavero camera " + localTimeText());
}

}  // namespace tavero::platform
