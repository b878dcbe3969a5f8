#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/linux/GdkPixbufImageProcessor.h"
#include "support/TestImages.h"

namespace tavero::platform {
namespace {

namespace fs = std::filesystem;
using test::decode;

EncodedImage processed(const ImageData& image, const ImageJob& job) {
  auto result = GdkPixbufImageProcessor().process(image, job);
  if (auto* error = std::get_if<std::string>(&result)) ADD_FAILURE() << *error;
  return std::holds_alternative<EncodedImage>(result) ? std::get<EncodedImage>(result) : EncodedImage{};
}

std::string failure(const ImageData& image, const ImageJob& job = {}) {
  auto result = GdkPixbufImageProcessor().process(image, job);
  auto* error = std::get_if<std::string>(&result);
  return error ? *error : "(no failure)";
}

ImageJob png(std::optional<PixelSize> size = std::nullopt) { return {size, ImageEncoding::png, 0}; }

TEST(ImageProcessor, TurnsAPictureUprightAsItsExifOrientationSays) {
  // Stored 200x100, red left and blue right; orientation 6 means "turn a
  // quarter clockwise to view", which puts the left edge on top.
  auto image = test::withExifOrientation(test::twoColourImage(200, 100, "jpeg"), 6);
  auto upright = decode(processed(image, png()).bytes);
  ASSERT_TRUE(upright);
  EXPECT_EQ(upright->width, 100);
  EXPECT_EQ(upright->height, 200);
  EXPECT_TRUE(test::roughlyRed(upright->top));
  EXPECT_TRUE(test::roughlyBlue(upright->bottom));

  // The same when the picture is decoded at a reduced size to be scaled.
  auto scaled = decode(processed(test::withExifOrientation(test::twoColourImage(1600, 800, "jpeg"), 6),
                                 png(PixelSize{30, 60})).bytes);
  ASSERT_TRUE(scaled);
  EXPECT_EQ(scaled->width, 30);
  EXPECT_EQ(scaled->height, 60);
  EXPECT_TRUE(test::roughlyRed(scaled->top));
  EXPECT_TRUE(test::roughlyBlue(scaled->bottom));
}

TEST(ImageProcessor, ScalesToExactlyTheSizeAskedWhateverTheShape) {
  for (auto format : {"png", "jpeg"}) {
    auto result = processed(test::twoColourImage(200, 100, format), png(PixelSize{320, 480}));
    EXPECT_EQ(result.size, (PixelSize{320, 480})) << format;
    auto decoded = decode(result.bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, 320);
    EXPECT_EQ(decoded->height, 480);
    EXPECT_EQ(decoded->format, "png");
    EXPECT_TRUE(test::roughlyRed(decoded->left));
    EXPECT_TRUE(test::roughlyBlue(decoded->right));
  }
}

TEST(ImageProcessor, EncodesJPEGAtTheQualityAskedAndKeepsQualityInRange) {
  auto image = test::twoColourImage(300, 200, "png");
  auto low = processed(image, {std::nullopt, ImageEncoding::jpeg, 0});
  auto high = processed(image, {std::nullopt, ImageEncoding::jpeg, 100});
  auto beyond = processed(image, {std::nullopt, ImageEncoding::jpeg, 500});
  ASSERT_TRUE(decode(low.bytes));
  EXPECT_EQ(decode(low.bytes)->format, "jpeg");
  EXPECT_LT(low.bytes.size(), high.bytes.size());
  EXPECT_EQ(beyond.bytes, high.bytes);  // 500 % is read as the best there is
}

TEST(ImageProcessor, ReportsWhatCannotBeDecoded) {
  EXPECT_NE(failure(std::vector<uint8_t>{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'})
                .find("not a readable picture"), std::string::npos);
  EXPECT_NE(failure(std::vector<uint8_t>{}).find("not a readable picture"), std::string::npos);
  EXPECT_NE(failure(fs::path("/nonexistent/picture.jpg")).find("not a readable picture"), std::string::npos);
  auto jpeg = test::twoColourImage(64, 64, "jpeg");
  jpeg.resize(jpeg.size() / 3);
  EXPECT_NE(failure(jpeg), "(no failure)");
  EXPECT_NE(failure(test::twoColourImage(8, 8, "png"), png(PixelSize{-5, 10})).find("cannot scale"),
            std::string::npos);
}

TEST(ImageProcessor, RefusesAPictureClaimingMorePixelsThanAnyMemoryHolds) {
  // 100000 x 100000 x 3 bytes would be 30 GB; the header alone says so.
  EXPECT_NE(failure(test::pngHeaderClaiming(100000, 100000)).find("too large (100000x100000"), std::string::npos);
  EXPECT_NE(failure(test::pngHeaderClaiming(100000, 100000), png(PixelSize{10, 10})).find("too large"),
            std::string::npos);
}

TEST(ImageProcessor, ThumbnailsFitTheirBoxAndKeepTheirShape) {
  GdkPixbufImageProcessor processor;
  auto thumbnail = processor.thumbnail(test::twoColourImage(1000, 500, "jpeg"), 320);
  ASSERT_TRUE(std::holds_alternative<EncodedImage>(thumbnail));
  EXPECT_EQ(std::get<EncodedImage>(thumbnail).size, (PixelSize{320, 160}));
  auto small = processor.thumbnail(test::twoColourImage(40, 30, "png"), 320);
  ASSERT_TRUE(std::holds_alternative<EncodedImage>(small));
  EXPECT_EQ(std::get<EncodedImage>(small).size, (PixelSize{40, 30}));  // never enlarged
}

// Runs `work` in a child process; its peak resident memory in MiB, or -1.
long childPeakMiB(const std::function<bool()>& work) {
  pid_t child = fork();
  if (child == 0) _exit(work() ? 0 : 1);
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return usage.ru_maxrss / 1024;
}

TEST(ImageProcessor, ScalesA12000By9000PhotoWithoutHoldingItWhole) {
  fs::path file = fs::temp_directory_path() / ("tavero-large-" + std::to_string(getpid()) + ".jpg");
  // Made in a child: the whole picture takes 324 MB there.
  ASSERT_GE(childPeakMiB([&] {
              test::writeFile(file, test::twoColourImage(12000, 9000, "jpeg"));
              return true;
            }), 300);
  long peak = childPeakMiB([&] {
    auto result = GdkPixbufImageProcessor().process(file, {PixelSize{320, 480}, ImageEncoding::jpeg, 80});
    auto* image = std::get_if<EncodedImage>(&result);
    return image && image->size == PixelSize{320, 480};
  });
  fs::remove(file);
  ASSERT_GT(peak, 0) << "the scaled picture was not made";
  EXPECT_LT(peak, 150) << "peak memory of scaling in MiB; a whole decode needs 324";
}

}  // namespace
}  // namespace tavero::platform
