// The pure parts of the system camera: what a profile may name as the
// camera, which source the pipeline starts with, and GStreamer's frames made
// into pictures.
#include <glib.h>
#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "log/Log.h"
#include "platform/CameraDevice.h"
#include "platform/linux/CameraFrames.h"
#include "platform/linux/CameraSourceChoice.h"
#include "platform/linux/GStreamerCamera.h"
#include "platform/linux/GStreamerCameraView.h"
#include "support/TestImages.h"

namespace tavero::platform {
namespace {

std::string refusalOf(std::string_view text) {
  auto parsed = parseCameraDevice(text);
  return std::holds_alternative<std::string>(parsed) ? "refused" : "accepted";
}

TEST(CameraDevice, AcceptsDeviceFilesBelowDevAndTheAllowedElementsOnly) {
  EXPECT_EQ(std::get<CameraDevice>(parseCameraDevice("/dev/video0")),
            (CameraDevice{CameraDevice::Kind::deviceFile, "/dev/video0"}));
  EXPECT_EQ(std::get<CameraDevice>(parseCameraDevice("/dev/v4l/by-id/usb-Cam-video-index0")).kind,
            CameraDevice::Kind::deviceFile);
  for (auto element : cameraSourceElements())
    EXPECT_EQ(std::get<CameraDevice>(parseCameraDevice(element)),
              (CameraDevice{CameraDevice::Kind::element, std::string(element)}));
  // Pipelines, other elements, paths outside /dev (also by "..") and the
  // folder itself are refused.
  for (std::string_view text : std::initializer_list<std::string_view>{
           "videotestsrc ! filesink location=/home/x", "filesrc", "souphttpsrc", "VideoTestSrc", "", "/dev/", "/dev",
           "/dev/../etc/passwd", "/dev/./video0", "/tmp/video0", "dev/video0", "/dev/video0/",
           std::string_view("/dev/vid\0eo", 11)})
    EXPECT_EQ(refusalOf(text), "refused") << text;
  EXPECT_EQ(refusalOf("/dev/" + std::string(5000, 'v')), "refused");
}

TEST(CameraSourceChoice, TheConfiguredDeviceWinsElsePipeWireBeforeV4L2) {
  std::vector<FoundCamera> found = {{"USB Camera", "v4l2src", "/dev/video2"},
                                    {"Integrated Camera", "pipewiresrc", ""},
                                    {"Integrated Camera", "v4l2src", "/dev/video0"}};
  // A configured device file is opened with v4l2src whatever was found.
  CameraDevice file{CameraDevice::Kind::deviceFile, "/dev/video7"};
  EXPECT_EQ(chooseCameraSource(file, found), (CameraSource{"v4l2src", "/dev/video7", {}}));
  CameraDevice pattern{CameraDevice::Kind::element, "videotestsrc"};
  EXPECT_EQ(chooseCameraSource(pattern, {}), (CameraSource{"videotestsrc", {}, {}}));

  auto chosen = chooseCameraSource(std::nullopt, found);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->found, 1u);  // PipeWire's, though V4L2's came first
  EXPECT_EQ(chosen->describe(found), "pipewiresrc (Integrated Camera)");

  found.erase(found.begin() + 1);
  chosen = chooseCameraSource(std::nullopt, found);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(*chosen, (CameraSource{"v4l2src", "/dev/video2", 0}));
  EXPECT_EQ(chosen->describe(found), "v4l2src /dev/video2 (USB Camera)");

  // Another provider's camera is still taken; nothing found is no camera.
  EXPECT_EQ(chooseCameraSource(std::nullopt, {{"Phone", "droidcamsrc", ""}}), (CameraSource{"droidcamsrc", {}, 0}));
  EXPECT_FALSE(chooseCameraSource(std::nullopt, {}));
}

TEST(CameraFrames, PaddedRowsArePackedAndShortOrEmptyFramesRefused) {
  // 2x2 RGB with rows padded to 8 bytes; the last row unpadded.
  std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6, 0xEE, 0xEE, 7, 8, 9, 10, 11, 12};
  auto frame = packedFrame(2, 2, 8, data);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->size, (PixelSize{2, 2}));
  EXPECT_EQ(frame->rgb, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));

  EXPECT_FALSE(packedFrame(2, 2, 8, std::span(data).first(13)));  // one byte short
  EXPECT_FALSE(packedFrame(2, 2, 5, data));                       // a stride narrower than a row
  EXPECT_FALSE(packedFrame(0, 2, 8, data));
  EXPECT_FALSE(packedFrame(2, -1, 8, data));
  EXPECT_FALSE(packedFrame(1 << 30, 1, 8, data));  // a width whose row overflows an int
}

TEST(CameraFrames, AFrameBecomesAPNGOfItsSizeAndColours) {
  CameraFrame frame{{64, 48}, {}};
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      bool left = x < 32;
      frame.rgb.insert(frame.rgb.end(), {uint8_t(left ? 250 : 0), 0, uint8_t(left ? 0 : 250)});
    }
  auto decoded = test::decode(framePNG(frame));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->format, "png");
  EXPECT_EQ(decoded->width, 64);
  EXPECT_EQ(decoded->height, 48);
  EXPECT_TRUE(test::roughlyRed(decoded->left));
  EXPECT_TRUE(test::roughlyBlue(decoded->right));

  frame.rgb.pop_back();  // pixels that do not fill the size
  EXPECT_TRUE(framePNG(frame).empty());
}

// Serves the default main context until `done` holds or `limit` passes.
bool serveUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < end) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    if (!done()) g_usleep(2000);
  }
  return done();
}

// The real pipeline with GStreamer's test source: frames come on the main
// thread, the picture is the frame in view, and a view closed at any moment
// stops its pipeline and tells its watchers nothing more.
TEST(GStreamerCameraView, ShowsFramesTakesTheOneInViewAndStopsWhenClosedAtAnyMoment) {
  GStreamerCamera camera(CameraDevice{CameraDevice::Kind::element, "videotestsrc"});
  EXPECT_EQ(camera.description(), "system (GStreamer, videotestsrc)");
  int frames = 0;
  std::optional<std::string> failure;
  PixelSize shown;
  auto view = camera.open({.frame = [&](const CameraFrame& frame) { ++frames, shown = frame.size; },
                           .failed = [&](const std::string& message) { failure = message; }});
  EXPECT_FALSE(view->still());
  // Nothing is told inside open(); before a frame there is nothing to take
  // (unless the streaming thread was quicker than this line).
  EXPECT_EQ(frames, 0);
  auto early = view->takePicture();
  if (const auto* message = std::get_if<std::string>(&early)) {
    EXPECT_EQ(*message, "the camera has shown no picture yet");
  }
  ASSERT_TRUE(serveUntil([&] { return frames >= 3 || failure; })) << "no frames";
  ASSERT_FALSE(failure) << *failure;
  EXPECT_EQ(shown, (PixelSize{320, 240}));
  auto picture = view->takePicture();
  ASSERT_TRUE(std::holds_alternative<ImageData>(picture));
  auto decoded = test::decode(std::get<std::vector<uint8_t>>(std::get<ImageData>(picture)));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width, 320);
  EXPECT_TRUE(test::roughlyBlue(decoded->right));

  view.reset();
  int framesWhenClosed = frames;
  EXPECT_TRUE(GStreamerCameraView::waitForBackgroundWork(std::chrono::seconds(5)));
  serveUntil([] { return false; }, std::chrono::milliseconds(200));
  EXPECT_EQ(frames, framesWhenClosed);

  // Closed while the pipeline is still starting, and again after one turn.
  for (int turns : {0, 1}) {
    auto brief = camera.open({.frame = [&](const CameraFrame&) { ++frames; },
                              .failed = [&](const std::string& message) { failure = message; }});
    for (int turn = 0; turn < turns; ++turn) g_main_context_iteration(nullptr, FALSE);
    brief.reset();
    framesWhenClosed = frames;
    EXPECT_TRUE(GStreamerCameraView::waitForBackgroundWork(std::chrono::seconds(5)));
    serveUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_TRUE(GStreamerCameraView::waitForBackgroundWork(std::chrono::seconds(5)));  // the late stop too
    EXPECT_EQ(frames, framesWhenClosed);
    EXPECT_FALSE(failure);
  }
}

// A camera unplugged mid-preview: GStreamer's test source, which fails
// after kGoodFrames frames the way a source that loses its device does. It
// takes videotestsrc's name while the test runs.
class UnpluggingTestSource {
 public:
  static constexpr int kGoodFrames = 5;

  UnpluggingTestSource() {
    GstElementFactory* original = gst_element_factory_find("videotestsrc");
    originalType_ = gst_element_factory_get_element_type(
        GST_ELEMENT_FACTORY(gst_plugin_feature_load(GST_PLUGIN_FEATURE(original))));
    gst_object_unref(original);
    GTypeQuery query;
    g_type_query(originalType_, &query);
    static GTypeInfo info{};
    info.class_size = static_cast<guint16>(query.class_size);
    info.instance_size = static_cast<guint16>(query.instance_size);
    info.class_init = [](gpointer klass, gpointer) {
      auto* push = GST_PUSH_SRC_CLASS(klass);
      parentFill() = push->fill;
      push->fill = fill;
    };
    static GType type = g_type_register_static(originalType_, "TaveroUnpluggingTestSrc", &info, GTypeFlags(0));
    frames() = 0;
    gst_element_register(nullptr, "videotestsrc", GST_RANK_NONE, type);
  }
  ~UnpluggingTestSource() { gst_element_register(nullptr, "videotestsrc", GST_RANK_NONE, originalType_); }

 private:
  using Fill = GstFlowReturn (*)(GstPushSrc*, GstBuffer*);
  static Fill& parentFill() {
    static Fill fill = nullptr;
    return fill;
  }
  static std::atomic<int>& frames() {
    static std::atomic<int> count{0};
    return count;
  }
  static GstFlowReturn fill(GstPushSrc* source, GstBuffer* buffer) {
    if (++frames() <= kGoodFrames) return parentFill()(source, buffer);
    gst_element_message_full(GST_ELEMENT(source), GST_MESSAGE_ERROR, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ,
                             g_strdup("The test camera was unplugged."), nullptr, __FILE__, G_STRFUNC, __LINE__);
    return GST_FLOW_ERROR;
  }

  GType originalType_ = G_TYPE_INVALID;
};

TEST(GStreamerCameraView, ACameraFailingMidPreviewFailsOnceWithGStreamersErrorInTheLog) {
  GStreamerCamera camera(CameraDevice{CameraDevice::Kind::element, "videotestsrc"});  // initialises GStreamer
  UnpluggingTestSource unplugging;
  std::vector<std::string> logged;
  log::setSink([&](log::Level, std::string_view line) { logged.emplace_back(line); });
  int frames = 0;
  std::vector<std::string> failures;
  auto view = camera.open({.frame = [&](const CameraFrame&) { ++frames; },
                           .failed = [&](const std::string& message) { failures.push_back(message); }});
  bool failed = serveUntil([&] { return !failures.empty(); });
  serveUntil([] { return false; }, std::chrono::milliseconds(100));
  log::setSink({});
  ASSERT_TRUE(failed);
  EXPECT_GE(frames, 1);
  EXPECT_LE(frames, UnpluggingTestSource::kGoodFrames);
  EXPECT_EQ(failures, (std::vector<std::string>{"the picture could not be taken: the camera stopped working"}));
  bool loggedError = false;
  for (const auto& line : logged)
    loggedError |= line.find("GStreamer error: The test camera was unplugged.") != std::string::npos;
  EXPECT_TRUE(loggedError);
  view.reset();
  EXPECT_TRUE(GStreamerCameraView::waitForBackgroundWork(std::chrono::seconds(5)));
}

// A device that cannot be opened fails once, soon, with the page's text.
TEST(GStreamerCameraView, ADeviceThatCannotBeOpenedFailsOnce) {
  GStreamerCamera camera(CameraDevice{CameraDevice::Kind::deviceFile, "/dev/null"});
  std::vector<std::string> failures;
  auto view = camera.open({.frame = {}, .failed = [&](const std::string& message) { failures.push_back(message); }});
  ASSERT_TRUE(serveUntil([&] { return !failures.empty(); }, std::chrono::seconds(5)));
  serveUntil([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_EQ(failures, (std::vector<std::string>{"the picture could not be taken: the camera could not be started"}));
  EXPECT_EQ(std::get<std::string>(view->takePicture()), "the picture could not be taken: the camera has stopped");
  view.reset();
  EXPECT_TRUE(GStreamerCameraView::waitForBackgroundWork(std::chrono::seconds(5)));
}

}  // namespace
}  // namespace tavero::platform
