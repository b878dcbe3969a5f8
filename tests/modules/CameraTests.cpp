#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "json/JsonCodec.h"
#include "modules/RecordingCallbacks.h"
#include "modules/TQCamera.h"
#include "platform/linux/GdkPixbufImageProcessor.h"
#include "support/QueueMainThread.h"
#include "support/TestImages.h"

namespace tavero::modules {
namespace {

namespace fs = std::filesystem;
using test::call;

// A picker answered by the test. Like every picker, it answers an open one
// as cancelled before it shows the next.
class FakePicker : public platform::ImagePicker {
 public:
  void present(platform::ImageSource source, const platform::PickerPresentation& presentation, Done done) override {
    if (done_) std::exchange(done_, nullptr)(platform::PickerCancelled{});
    sources.push_back(source);
    presentations.push_back(presentation);
    done_ = std::move(done);
  }
  std::optional<platform::ImageSource> openPicker() const override {
    return done_ ? std::optional(sources.back()) : std::nullopt;
  }
  std::optional<std::string> pick(const std::optional<fs::path>& file) override {
    answer(platform::ImageData(*file));
    return std::nullopt;
  }
  std::optional<std::string> cancel() override {
    answer(platform::PickerCancelled{});
    return std::nullopt;
  }
  void answer(platform::PickerOutcome outcome) { std::exchange(done_, nullptr)(std::move(outcome)); }

  std::vector<platform::ImageSource> sources;
  std::vector<platform::PickerPresentation> presentations;

 private:
  Done done_;
};

class CameraTest : public ::testing::Test {
 protected:
  void SetUp() override {
    documents_ = fs::temp_directory_path() / ("tavero-camera-" + std::to_string(getpid())) / "Documents";
    fs::remove_all(documents_.parent_path());
    camera_ = std::make_unique<TQCamera>(callbacks_, TQCamera::Services{mainThread_, picker_, processor_, documents_, false});
  }
  void TearDown() override { fs::remove_all(documents_.parent_path()); }

  // Captures with `arguments` and answers the picker with `image`; returns
  // what reached the page.
  std::vector<test::RecordingCallbacks::Delivery> capture(test::Arguments arguments, platform::PickerOutcome outcome) {
    arguments.emplace_back("success", "1");
    arguments.emplace_back("failure", "2");
    arguments.emplace_back("__source", "file:///app/webapp/camera.html");
    call(*camera_, "capture", arguments);
    picker_.answer(std::move(outcome));
    return callbacks_.take();
  }

  platform::ImageData picture(int width = 200, int height = 100) {
    return ::tavero::test::twoColourImage(width, height, "jpeg");
  }

  fs::path documents_;
  test::RecordingCallbacks callbacks_;
  tavero::testing::QueueMainThread mainThread_;
  FakePicker picker_;
  platform::GdkPixbufImageProcessor processor_;
  std::unique_ptr<TQCamera> camera_;
};

std::vector<uint8_t> base64Decoded(const std::string& text) {
  static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<uint8_t> out;
  uint32_t buffer = 0;
  int bits = 0;
  for (char c : text) {
    if (c == '=') break;
    auto index = alphabet.find(c);
    if (index == std::string::npos) return {};
    buffer = (buffer << 6) | static_cast<uint32_t>(index);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>(buffer >> bits));
    }
  }
  return out;
}

TEST_F(CameraTest, ChoosesThePickerBySourceAndTheScreenByIdiom) {
  for (auto source : {"1", "2", "0", " 1 ", ""}) capture({{"source", source}}, platform::PickerCancelled{});
  capture({}, platform::PickerCancelled{});
  using S = platform::ImageSource;
  EXPECT_EQ(picker_.sources, (std::vector<S>{S::camera, S::savedPhotosAlbum, S::photoLibrary, S::camera,
                                              S::photoLibrary, S::photoLibrary}));
  EXPECT_FALSE(picker_.presentations.back().popover);

  TQCamera tablet(callbacks_, TQCamera::Services{mainThread_, picker_, processor_, documents_, true});
  call(tablet, "capture", {{"source", "1"}});
  picker_.answer(platform::PickerCancelled{});
  const auto& popover = picker_.presentations.back();
  EXPECT_TRUE(popover.popover);
  EXPECT_EQ(popover.anchor.x, 10);
  EXPECT_EQ(popover.anchor.y, 10);
  EXPECT_EQ(popover.anchor.width, 100);
  EXPECT_EQ(popover.anchor.height, 100);
  EXPECT_EQ(popover.popoverSize, (platform::PixelSize{100, 100}));
}

TEST_F(CameraTest, GivesPNGAsBase64WithoutLineBreaksOrPrefix) {
  auto delivered = capture({{"destination", "0"}, {"encoding", "1"}}, picture(300, 200));
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].id, 1);
  EXPECT_EQ(delivered[0].page, "camera.html");
  const std::string& text = delivered[0].value->asString();
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_FALSE(text.starts_with("data:"));
  auto decoded = ::tavero::test::decode(base64Decoded(text));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->format, "png");
  EXPECT_EQ(decoded->width, 300);
  EXPECT_EQ(decoded->height, 200);
}

TEST_F(CameraTest, ScalesOnlyWhenBothSizesAreGiven) {
  auto size = [&](test::Arguments arguments) {
    arguments.emplace_back("destination", "0");
    arguments.emplace_back("encoding", "1");
    auto delivered = capture(arguments, picture(200, 100));
    auto decoded = ::tavero::test::decode(base64Decoded(delivered.at(0).value->asString()));
    return decoded ? platform::PixelSize{decoded->width, decoded->height} : platform::PixelSize{};
  };
  EXPECT_EQ(size({{"width", "320"}}), (platform::PixelSize{200, 100}));
  EXPECT_EQ(size({{"height", "480"}}), (platform::PixelSize{200, 100}));
  EXPECT_EQ(size({{"width", "320"}, {"height", "480"}}), (platform::PixelSize{320, 480}));
}

TEST_F(CameraTest, WritesJPEGFilesInDocumentsAndKeepsEveryPictureOfTheSameSecond) {
  // No quality given: JPEG at quality 0.
  auto first = capture({{"destination", "1"}}, picture());
  auto second = capture({{"destination", "1"}}, picture());
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  std::string a = first[0].value->asString(), b = second[0].value->asString();
  std::regex name(".*/Documents/image-[0-9]+\\.jpg");
  EXPECT_TRUE(std::regex_match(a, name)) << a;
  EXPECT_TRUE(std::regex_match(b, name)) << b;
  EXPECT_NE(a, b);
  auto decoded = ::tavero::test::decode(::tavero::test::readFile(a));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->format, "jpeg");
  EXPECT_TRUE(fs::exists(b));

  auto png = capture({{"destination", "1"}, {"encoding", "1"}}, picture());
  EXPECT_TRUE(png.at(0).value->asString().ends_with(".png"));

  auto reserved = TQCamera::reserveFile(documents_, 1700000000, "jpg");
  auto next = TQCamera::reserveFile(documents_, 1700000000, "jpg");
  EXPECT_EQ(reserved->filename(), "image-1700000000.jpg");
  EXPECT_EQ(next->filename(), "image-1700000001.jpg");
}

TEST_F(CameraTest, TellsTheCallingPageOfACancelAndOfAPictureItCannotRead) {
  auto cancelled = capture({{"destination", "0"}}, platform::PickerCancelled{});
  ASSERT_EQ(cancelled.size(), 1u);
  EXPECT_EQ(cancelled[0].id, 2);
  EXPECT_EQ(cancelled[0].page, "camera.html");
  EXPECT_EQ(cancelled[0].value, json::Value("User has canceled operation"));

  auto unreadable = capture({{"destination", "0"}}, platform::ImageData(std::vector<uint8_t>{'G', 'I', 'F', '8'}));
  ASSERT_EQ(unreadable.size(), 1u);
  EXPECT_EQ(unreadable[0].id, 2);
  EXPECT_TRUE(unreadable[0].value->asString().starts_with("the picture could not be read")) << test::text(unreadable[0].value);
  EXPECT_EQ(capture({{"destination", "1"}}, platform::ImageData(fs::path("/nonexistent.jpg"))).at(0).id, 2);
  EXPECT_FALSE(fs::exists(documents_) && !fs::is_empty(documents_));  // nothing half-written
}

// Every option out of range, or not a whole integer, is refused through the
// failure callback before a picker shows; the message names the option.
TEST_F(CameraTest, RefusesOptionsOutOfRangeWithoutShowingAPicker) {
  const test::Arguments refused[] = {
      {{"source", "99"}},        {{"source", "-1"}},       {{"source", "png"}},          {{"source", "1.5"}},
      {{"source", "[1]"}},       {{"destination", "2"}},   {{"encoding", "5"}},          {{"quality", "101"}},
      {{"quality", "-1"}},       {{"width", "10001"}},     {{"height", "-5"}},           {{"width", "99999999999999999999"}},
  };
  for (const auto& options : refused) {
    test::Arguments arguments = options;
    arguments.emplace_back("success", "1");
    arguments.emplace_back("failure", "2");
    call(*camera_, "capture", arguments);
    auto delivered = callbacks_.take();
    const std::string key = options.front().first;
    ASSERT_EQ(delivered.size(), 1u) << key;
    EXPECT_EQ(delivered[0].id, 2) << key;
    ASSERT_TRUE(delivered[0].value && delivered[0].value->isString());
    EXPECT_EQ(delivered[0].value->asString().rfind("Refused: " + key + " must be ", 0), 0u)
        << delivered[0].value->asString();
  }
  EXPECT_TRUE(picker_.sources.empty());
  EXPECT_FALSE(fs::exists(documents_) && !fs::is_empty(documents_));

  // The edges themselves are accepted.
  auto edges = capture({{"destination", "0"}, {"encoding", "1"}, {"quality", "100"}, {"width", "10000"},
                        {"height", "1"}, {"source", "2"}},
                       picture(20, 10));
  ASSERT_EQ(edges.size(), 1u);
  EXPECT_EQ(edges[0].id, 1);
}

TEST_F(CameraTest, EachCaptureKeepsItsOwnCallbacks) {
  call(*camera_, "capture", {{"success", "11"}, {"failure", "12"}, {"__source", "file:///a/first.html"}});
  call(*camera_, "capture", {{"success", "21"}, {"failure", "22"}, {"destination", "0"}, {"__source", "file:///a/second.html"}});
  picker_.answer(picture());
  auto delivered = callbacks_.take();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].id, 12);  // the first picker was closed by the second
  EXPECT_EQ(delivered[0].page, "first.html");
  EXPECT_EQ(delivered[1].id, 21);
  EXPECT_EQ(delivered[1].page, "second.html");
}

}  // namespace
}  // namespace tavero::modules
