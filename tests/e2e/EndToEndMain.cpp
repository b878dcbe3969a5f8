// The end-to-end tests' main: GTK is initialised once per process, on a
// private display so that no window appears on a developer's screen (the
// screen serves only when Xvfb is missing).
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "platform/linux/WebKitWebViewHost.h"
#include "platform/linux/XvfbDisplay.h"

namespace {

class DisplayEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    using tavero::platform::XvfbDisplay;
    auto started = XvfbDisplay::start();
    if (auto* xvfb = std::get_if<std::unique_ptr<XvfbDisplay>>(&started)) {
      xvfb_ = std::move(*xvfb);
      xvfb_->makeDefault();
    } else {
      ASSERT_TRUE(std::getenv("DISPLAY")) << std::get<std::string>(started);
    }
    setenv("NO_AT_BRIDGE", "1", 1);
    auto error = tavero::platform::initializeGtk();
    ASSERT_FALSE(error) << *error;
  }
  void TearDown() override { xvfb_.reset(); }

 private:
  std::unique_ptr<tavero::platform::XvfbDisplay> xvfb_;
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new DisplayEnvironment);
  return RUN_ALL_TESTS();
}
