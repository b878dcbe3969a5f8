#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/MediaPlatform.h"

namespace tavero::app {
namespace {

namespace fs = std::filesystem;

TEST(MediaPlatform, RemovesWritesAKillInterruptedAtLaunch) {
  platform::HomeFolders home{fs::temp_directory_path() / ("tavero-media-" + std::to_string(::getpid()))};
  fs::remove_all(home.home);
  const std::string dead = ".tmp-4194305";  // above any pid the kernel gives
  const fs::path queue = fs::path(MediaPlatform::paymentQueueFile(home)) += dead;
  const fs::path defaults = fs::path(MediaPlatform::userDefaultsFile(home, "com.example.app")) += dead;
  const fs::path picture = home.documents() / ("image-12.jpg" + dead);
  const fs::path pageFile = home.documents() / ("notes.txt" + dead);  // the page's own file
  for (const fs::path& file : {queue, defaults, picture, pageFile}) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "half";
  }
  {
    MediaPlatform media(platform::MediaProfile{}, home, "com.example.app", false);
    EXPECT_FALSE(fs::exists(queue));
    EXPECT_FALSE(fs::exists(defaults));
    EXPECT_FALSE(fs::exists(picture));
    EXPECT_TRUE(fs::exists(pageFile));
  }
  fs::remove_all(home.home);
}

}  // namespace
}  // namespace tavero::app
