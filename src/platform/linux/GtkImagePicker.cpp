#include "platform/linux/GtkImagePicker.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <utility>

#include "log/Log.h"

namespace tavero::platform {
namespace {

constexpr int kTakePicture = 1;
// The camera dialog's preview is scaled to fit this.
constexpr int kPreviewWidth = 480;
constexpr int kPreviewHeight = 360;

// The application's window, for the dialog to belong to.
GtkWindow* applicationWindow(GtkWidget* except) {
  GList* toplevels = gtk_window_list_toplevels();
  GtkWindow* found = nullptr;
  for (GList* item = toplevels; item && !found; item = item->next) {
    auto* window = GTK_WINDOW(item->data);
    if (GTK_WIDGET(window) != except && gtk_widget_get_visible(GTK_WIDGET(window)) &&
        gtk_window_get_window_type(window) == GTK_WINDOW_TOPLEVEL && !GTK_IS_DIALOG(window))
      found = window;
  }
  g_list_free(toplevels);
  return found;
}

// The size the picker is given once it shows: GTK's file chooser picks a
// size of its own when it is mapped (larger than a small app window).
void resizeWhenMapped(GtkWidget* dialog, PickerDialogSize size) {
  auto* kept = new PickerDialogSize(size);
  g_signal_connect_data(
      dialog, "map",
      G_CALLBACK(+[](GtkWidget* widget, gpointer data) {
        auto* wanted = static_cast<PickerDialogSize*>(data);
        gtk_window_resize(GTK_WINDOW(widget), wanted->width, wanted->height);
      }),
      kept, [](gpointer data, GClosure*) { delete static_cast<PickerDialogSize*>(data); }, G_CONNECT_AFTER);
}

void place(GtkWidget* dialog, const PickerPresentation& presentation) {
  GtkWindow* parent = applicationWindow(dialog);
  if (parent) gtk_window_set_transient_for(GTK_WINDOW(dialog), parent);
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  if (presentation.popover) gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER_ON_PARENT);
  if (!parent) return;
  int width = 0, height = 0;
  gtk_window_get_size(parent, &width, &height);
  PickerDialogSize size = pickerDialogSize(presentation, width, height);
  gtk_window_set_default_size(GTK_WINDOW(dialog), size.width, size.height);
  resizeWhenMapped(dialog, size);
}

}  // namespace

PickerDialogSize pickerDialogSize(const PickerPresentation& presentation, int windowWidth, int windowHeight) {
  // A phone fills the app's window.
  if (!presentation.popover) return {windowWidth, windowHeight};
  // A tablet shows a smaller dialog over the window: two thirds of it, at
  // most 720x540, at least 360x300 (but never past the window), and never
  // smaller than the size the app asked for.
  auto side = [](int window, int most, int least, int asked) {
    int size = std::min(window * 2 / 3, most);
    size = std::max({size, std::min(least, window), asked});
    return std::min(size, window);
  };
  return {side(windowWidth, 720, 360, presentation.popoverSize.width),
          side(windowHeight, 540, 300, presentation.popoverSize.height)};
}

std::filesystem::path pickerStartFolder() {
  const char* pictures = g_get_user_special_dir(G_USER_DIRECTORY_PICTURES);
  if (pictures && g_file_test(pictures, G_FILE_TEST_IS_DIR)) return pictures;
  return g_get_home_dir();
}

GtkImagePicker::~GtkImagePicker() {
  cameraView_.reset();
  if (dialog_) {
    g_signal_handlers_disconnect_by_data(dialog_, this);
    gtk_widget_destroy(dialog_);
  }
}

GtkWidget* GtkImagePicker::makeFileChooser(ImageSource source) {
  const char* title = source == ImageSource::savedPhotosAlbum ? "Saved Photos" : "Photo Library";
  GtkWidget* chooser = gtk_file_chooser_dialog_new(title, nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
                                                   GTK_RESPONSE_CANCEL, "_Choose", GTK_RESPONSE_ACCEPT, nullptr);
  GtkFileFilter* images = gtk_file_filter_new();
  gtk_file_filter_set_name(images, "Pictures");
  gtk_file_filter_add_pixbuf_formats(images);
  gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), images);  // takes the filter
  gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
  gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), pickerStartFolder().c_str());
  return chooser;
}

GtkWidget* GtkImagePicker::makeCameraDialog() {
  GtkWidget* dialog = gtk_dialog_new_with_buttons("Camera", nullptr, GTK_DIALOG_DESTROY_WITH_PARENT, "_Cancel",
                                                  GTK_RESPONSE_CANCEL, "_Take Picture", kTakePicture, nullptr);
  gtk_dialog_set_response_sensitive(GTK_DIALOG(dialog), kTakePicture, FALSE);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  preview_ = gtk_image_new();
  previewStatus_ = gtk_label_new("Starting the camera\u2026");
  gtk_box_pack_start(GTK_BOX(box), preview_, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(box), previewStatus_, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), box);
  gtk_widget_show_all(box);
  cameraView_ = camera_->open({
      .frame = [this](const CameraFrame& frame) { showFrame(frame); },
      .failed = [this](const std::string& message) { finish(PickerFailed{message}); },
  });
  if (auto still = cameraView_->still()) {
    gtk_widget_hide(previewStatus_);
    gtk_dialog_set_response_sensitive(GTK_DIALOG(dialog), kTakePicture, TRUE);
    showStill(*still);
  }
  return dialog;
}

void GtkImagePicker::showStill(const ImageData& still) {
  // What the camera would shoot now, scaled to fit.
  GdkPixbuf* preview = nullptr;
  if (const auto* file = std::get_if<std::filesystem::path>(&still)) {
    preview = gdk_pixbuf_new_from_file_at_scale(file->c_str(), kPreviewWidth, kPreviewHeight, TRUE, nullptr);
  } else {
    const auto& bytes = std::get<std::vector<uint8_t>>(still);
    GInputStream* stream = g_memory_input_stream_new_from_data(bytes.data(), static_cast<gssize>(bytes.size()), nullptr);
    preview = gdk_pixbuf_new_from_stream_at_scale(stream, kPreviewWidth, kPreviewHeight, TRUE, nullptr, nullptr);
    g_object_unref(stream);
  }
  if (!preview) {
    gtk_label_set_text(GTK_LABEL(previewStatus_), "The camera shows nothing.");
    gtk_widget_show(previewStatus_);
    return;
  }
  gtk_image_set_from_pixbuf(GTK_IMAGE(preview_), preview);
  g_object_unref(preview);
}

void GtkImagePicker::showFrame(const CameraFrame& frame) {
  if (!dialog_ || !preview_) return;
  if (gtk_widget_get_visible(previewStatus_)) {
    gtk_widget_hide(previewStatus_);
    gtk_dialog_set_response_sensitive(GTK_DIALOG(dialog_), kTakePicture, TRUE);
  }
  // The frame's pixels are borrowed for the scaling only.
  GdkPixbuf* pixels = gdk_pixbuf_new_from_data(frame.rgb.data(), GDK_COLORSPACE_RGB, FALSE, 8, frame.size.width,
                                               frame.size.height, frame.size.width * 3, nullptr, nullptr);
  double scale = std::min({1.0, static_cast<double>(kPreviewWidth) / frame.size.width,
                           static_cast<double>(kPreviewHeight) / frame.size.height});
  GdkPixbuf* shown = gdk_pixbuf_scale_simple(pixels, std::max(1, static_cast<int>(frame.size.width * scale)),
                                             std::max(1, static_cast<int>(frame.size.height * scale)),
                                             GDK_INTERP_BILINEAR);
  g_object_unref(pixels);
  if (!shown) return;
  gtk_image_set_from_pixbuf(GTK_IMAGE(preview_), shown);
  g_object_unref(shown);
}

std::optional<std::string> GtkImagePicker::shootCamera() {
  auto picture = cameraView_->takePicture();
  if (auto* message = std::get_if<std::string>(&picture)) return *message;
  finish(std::get<ImageData>(std::move(picture)));
  return std::nullopt;
}

void GtkImagePicker::present(ImageSource source, const PickerPresentation& presentation, Done done) {
  if (dialog_) {
    log::info("picker: a new picker replaces the one still open, which counts as cancelled");
    finish(PickerCancelled{});
  }
  source_ = source;
  done_ = std::move(done);
  dialog_ = source == ImageSource::camera ? makeCameraDialog() : makeFileChooser(source);
  place(dialog_, presentation);
  g_signal_connect(dialog_, "response", G_CALLBACK(onResponse), this);
  gtk_widget_show(dialog_);
  log::info(std::string("picker: ") + std::string(imageSourceName(source)) + " open");
}

void GtkImagePicker::onResponse(GtkWidget* dialog, int response, void* data) {
  auto* self = static_cast<GtkImagePicker*>(data);
  if (dialog != self->dialog_) return;
  if (response == kTakePicture) {
    if (auto message = self->shootCamera()) log::info("picker: " + *message);
  } else if (response == GTK_RESPONSE_ACCEPT) {
    gchar* file = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
    if (file) {
      std::filesystem::path path(file);
      g_free(file);
      self->finish(ImageData(path));
    } else {
      self->finish(PickerCancelled{});
    }
  } else {
    // Cancel, Escape, or the dialog's window closed.
    self->finish(PickerCancelled{});
  }
}

std::optional<ImageSource> GtkImagePicker::openPicker() const {
  if (!dialog_) return std::nullopt;
  return source_;
}

std::optional<std::string> GtkImagePicker::pick(const std::optional<std::filesystem::path>& file) {
  if (!dialog_) return std::string("no picker is open");
  if (!file) {
    if (source_ != ImageSource::camera) return std::string("the photo library picker needs a file to pick");
    return shootCamera();
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(*file, ec)) return "no such file: " + file->string();
  finish(ImageData(std::filesystem::absolute(*file, ec)));
  return std::nullopt;
}

std::optional<std::string> GtkImagePicker::cancel() {
  if (!dialog_) return std::string("no picker is open");
  finish(PickerCancelled{});
  return std::nullopt;
}

void GtkImagePicker::finish(PickerOutcome outcome) {
  cameraView_.reset();  // stops the camera
  preview_ = previewStatus_ = nullptr;
  GtkWidget* dialog = std::exchange(dialog_, nullptr);
  Done done = std::move(done_);
  done_ = nullptr;
  if (dialog) {
    g_signal_handlers_disconnect_by_data(dialog, this);
    gtk_widget_destroy(dialog);
  }
  if (std::holds_alternative<PickerCancelled>(outcome))
    log::info("picker: cancelled");
  else if (const auto* failed = std::get_if<PickerFailed>(&outcome))
    log::info("picker: closed, the camera failed: " + failed->message);
  else
    log::info("picker: picture chosen");
  if (done) done(std::move(outcome));
}

}  // namespace tavero::platform
