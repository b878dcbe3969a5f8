// The pure parts of the system camera: what a profile may name as the
// camera, which source the pipeline starts with, and GStreamer's frames made
// into pictures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/CameraDevice.h"
#include "platform/linux/CameraFrames.h"
#include "platform/linux/CameraSourceChoice.h"
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
    EXPECT_EQ(std::get<CameraDevice>(parseCameraDevice(element)), (CameraDevice{CameraDevice::Kind::element, std::string(element)}));
  // Pipelines, other elements, paths outside /dev (also by "..") and the
  // folder itself are refused.
  for (std::string_view text : std::initializer_list<std::string_view>
       {"videotestsrc ! filesink location=/home/x", "filesrc", "souphttpsrc", "VideoTestSrc", "", "/dev/", "/dev",
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

}  // namespace
}  // namespace tavero::platform
