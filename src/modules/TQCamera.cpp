#include "modules/TQCamera.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>

#include "base/AtomicFile.h"
#include "base/PrivateFiles.h"
#include "json/Base64.h"
#include "log/Log.h"
#include "modules/OptionCheck.h"

namespace tavero::modules {

using bridge::Invocation;
namespace fs = std::filesystem;

namespace {

constexpr int32_t kDestinationBase64 = 0;
constexpr int32_t kDestinationFile = 1;
constexpr int32_t kEncodingJPEG = 0;
constexpr int32_t kEncodingPNG = 1;

platform::ImageSource sourceFor(int64_t source) {
  if (source == 1) return platform::ImageSource::camera;
  if (source == 2) return platform::ImageSource::savedPhotosAlbum;
  return platform::ImageSource::photoLibrary;
}

// The current time in seconds, cut to 32 bits as the file names have it.
int32_t currentSeconds() {
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::system_clock::now().time_since_epoch()).count();
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(seconds)));
}

}  // namespace

TQCamera::TQCamera(bridge::CallbackDelivery& callbacks, Services services)
    : callbacks_(callbacks), services_(std::move(services)) {
  addOperation("capture", [this](Invocation& call) { capture(call); });
}

void TQCamera::capture(Invocation& call) {
  // Missing options read as 0, as they always did; values out of range are
  // refused before any picker shows.
  OptionCheck check(call, "camera");
  const auto source = check.integer("source", 0, 0, 2, "0 (photo library), 1 (camera) or 2 (saved photos album)");
  const auto quality = check.integer("quality", 0, 0, 100, "an integer from 0 to 100");
  const std::string sizes = "an integer from 0 to " + std::to_string(kMaxPictureSide);
  const auto width = check.integer("width", 0, 0, kMaxPictureSide, sizes);
  const auto height = check.integer("height", 0, 0, kMaxPictureSide, sizes);
  const auto destination = check.integer("destination", 0, kDestinationBase64, kDestinationFile,
                                         "0 (base64 text) or 1 (a file)");
  const auto encoding = check.integer("encoding", 0, kEncodingJPEG, kEncodingPNG, "0 (JPEG) or 1 (PNG)");
  Capture capture{sourceFor(source),
                  static_cast<int32_t>(quality),
                  static_cast<int32_t>(width),
                  static_cast<int32_t>(height),
                  static_cast<int32_t>(destination),
                  static_cast<int32_t>(encoding),
                  call.integer("success"),
                  call.integer("failure"),
                  call.pageName()};
  if (check.refused()) {
    callbacks_.invokeCallback(capture.failure, json::Value(*check.refusal()), capture.page);
    return;
  }
  platform::PickerPresentation presentation;
  if (services_.tablet) {
    presentation.popover = true;
    presentation.anchor = {10, 10, 100, 100};
    presentation.popoverSize = {100, 100};
  }
  services_.mainThread.performAndWait([&] {
    services_.picker.present(capture.source, presentation,
                             [this, capture](platform::PickerOutcome outcome) { finish(capture, std::move(outcome)); });
  });
}

void TQCamera::finish(const Capture& capture, platform::PickerOutcome outcome) {
  if (std::holds_alternative<platform::PickerCancelled>(outcome)) {
    callbacks_.invokeCallback(capture.failure, json::Value(std::string(kCancelText)), capture.page);
    return;
  }
  if (const auto* failed = std::get_if<platform::PickerFailed>(&outcome)) {
    log::warning("camera: " + failed->message);
    callbacks_.invokeCallback(capture.failure, json::Value(failed->message), capture.page);
    return;
  }
  auto answer = result(capture, std::get<platform::ImageData>(outcome));
  if (auto* message = std::get_if<std::string>(&answer)) {
    log::warning("camera: " + *message);
    callbacks_.invokeCallback(capture.failure, json::Value(*message), capture.page);
    return;
  }
  callbacks_.invokeCallback(capture.success, std::get<std::optional<json::Value>>(answer), capture.page);
}

std::variant<std::optional<json::Value>, std::string> TQCamera::result(const Capture& capture,
                                                                      const platform::ImageData& image) {
  platform::ImageJob job;
  if (capture.width != 0 && capture.height != 0) job.scaleTo = platform::PixelSize{capture.width, capture.height};
  job.encoding = capture.encoding == kEncodingPNG ? platform::ImageEncoding::png : platform::ImageEncoding::jpeg;
  job.quality = capture.quality;
  auto processed = services_.processor.process(image, job);
  if (auto* error = std::get_if<std::string>(&processed)) return "the picture could not be read: " + *error;
  const std::vector<uint8_t>& bytes = std::get<platform::EncodedImage>(processed).bytes;
  if (capture.destination == kDestinationBase64) return std::optional<json::Value>(json::ql_base64_encode(bytes, false));

  const char* extension = capture.encoding == kEncodingPNG ? "png" : "jpg";
  auto file = reserveFile(services_.documents, currentSeconds(), extension);
  if (!file) return "the picture could not be saved: no file name is free in " + services_.documents.string();
  std::string_view content(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (auto error = base::writeFileAtomically(*file, content)) {
    std::error_code ec;
    fs::remove(*file, ec);
    return "the picture could not be saved: " + *error;
  }
  return std::optional<json::Value>(file->string());
}

std::optional<fs::path> TQCamera::reserveFile(const fs::path& folder, int32_t seconds, std::string_view extension) {
  base::createPrivateFolders(folder);  // a failure shows in the open below
  constexpr int kTries = 1000;
  for (int i = 0; i < kTries; ++i) {
    int32_t number = static_cast<int32_t>(static_cast<uint32_t>(seconds) + static_cast<uint32_t>(i));
    fs::path file = folder / ("image-" + std::to_string(number) + "." + std::string(extension));
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      return file;
    }
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace tavero::modules
